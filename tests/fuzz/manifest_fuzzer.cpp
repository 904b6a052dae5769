// libFuzzer target: any bytes as a manifest file, opened with the
// development manifest key and parsed. Must never crash or read out of
// bounds.

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "component/manifest_format.h"

namespace {

EVP_PKEY* Key() {
  static EVP_PKEY* key = [] {
    std::ifstream in(VORLINK_SOURCE_DIR "/tools/dev-keys/manifest-dev.pub.pem");
    const std::string pem((std::istreambuf_iterator<char>(in)), {});
    return vorlink::ReadPublicKeyPem(pem);
  }();
  return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (const auto bytes = vorlink::DecodeManifestHex(input)) {
    if (const auto text = vorlink::OpenManifestBlocks(*bytes, Key())) vorlink::ParseManifestText(*text);
  }
  vorlink::ParseManifestText(input);  // the text rules on their own
  return 0;
}
