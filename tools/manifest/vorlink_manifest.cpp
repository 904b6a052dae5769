// vorlink-manifest: writes and reads module manifests (Vorlink.ini).
//
//   vorlink-manifest sign --key PRIV.pem --cert SERVER.der --base DIR --out Vorlink.ini FILE...
//   vorlink-manifest verify --pubkey PUB.pem --cert SERVER.der Vorlink.ini
//   vorlink-manifest dump --pubkey PUB.pem Vorlink.ini

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>

#include "component/manifest_format.h"
#include "component/module_verifier.h"
#include "manifest_signer.h"

using namespace vorlink;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct Args {
  std::map<std::string, std::string> options;
  std::vector<std::string> rest;
};

Args Parse(int argc, char** argv) {
  Args args;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a.starts_with("--") && i + 1 < argc) {
      args.options[a.substr(2)] = argv[++i];
    } else {
      args.rest.push_back(a);
    }
  }
  return args;
}

std::string Need(const Args& args, const std::string& name) {
  auto it = args.options.find(name);
  if (it == args.options.end()) throw std::runtime_error("missing --" + name);
  return it->second;
}

int Sign(const Args& args) {
  manifest::SignRequest request;
  request.private_key_pem = ReadFile(Need(args, "key"));
  const std::string cert = ReadFile(Need(args, "cert"));
  request.server_certificate_der.assign(cert.begin(), cert.end());
  request.base = args.options.count("base") ? args.options.at("base") : ".";
  request.files = args.rest;
  const std::string hex = manifest::SignManifestText(manifest::ManifestText(request), request.private_key_pem);
  const std::string out = Need(args, "out");
  std::ofstream(out, std::ios::binary) << hex;
  std::cout << "signed " << request.files.size() << " file(s) into " << out << "\n";
  return 0;
}

std::vector<ManifestEntry> Open(const Args& args) {
  if (args.rest.size() != 1) throw std::runtime_error("name one manifest file");
  std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(ReadPublicKeyPem(ReadFile(Need(args, "pubkey"))), EVP_PKEY_free);
  const auto data = DecodeManifestHex(ReadFile(args.rest[0]));
  if (!key || !data) throw std::runtime_error("not a manifest or not a public key");
  const auto text = OpenManifestBlocks(*data, key.get());
  if (!text) throw std::runtime_error("the manifest does not open with this key");
  return ParseManifestText(*text);
}

int Dump(const Args& args) {
  for (const auto& e : Open(args)) {
    std::printf("%s  size %d  digest %s\n", e.name.c_str(), e.size, e.digest.empty() ? "(malformed)" : "ok");
  }
  return 0;
}

int Verify(const Args& args) {
  ModuleVerifier verifier(ReadFile(Need(args, "pubkey")));
  const std::string cert = ReadFile(Need(args, "cert"));
  verifier.SetVerificationKey({reinterpret_cast<const std::uint8_t*>(cert.data()), cert.size()});
  if (args.rest.size() != 1) throw std::runtime_error("name one manifest file");
  switch (verifier.LoadAndVerify(args.rest[0])) {
    case ModuleCheckResult::kOk: std::cout << "all listed files verify\n"; return 0;
    case ModuleCheckResult::kLoadFailed: std::cerr << "the manifest does not load\n"; return 1;
    case ModuleCheckResult::kCheckFailed: std::cerr << "a listed file fails its check (or none is listed)\n"; return 1;
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  try {
    const Args args = Parse(argc, argv);
    if (command == "sign") return Sign(args);
    if (command == "verify") return Verify(args);
    if (command == "dump") return Dump(args);
  } catch (const std::exception& e) {
    std::cerr << "vorlink-manifest: " << e.what() << "\n";
    return 1;
  }
  std::cerr << "usage: vorlink-manifest sign --key PRIV.pem --cert SERVER.der --base DIR --out Vorlink.ini FILE...\n"
               "       vorlink-manifest verify --pubkey PUB.pem --cert SERVER.der Vorlink.ini\n"
               "       vorlink-manifest dump --pubkey PUB.pem Vorlink.ini\n";
  return 2;
}
