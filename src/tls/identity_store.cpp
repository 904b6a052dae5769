#include "tls/identity_store.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace vorlink {
namespace fs = std::filesystem;
namespace {

// A PEM certificate or key is a few KiB; anything larger is not ours.
constexpr std::size_t kMaxFileBytes = 64 * 1024;

struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

// Text that held a private key is wiped before its memory is given back.
struct Secret {
  std::string text;
  ~Secret() { OPENSSL_cleanse(text.data(), text.size()); }
};

bool ReadSmallFile(const fs::path& path, std::string& out, std::string& problem, struct stat* info = nullptr) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    problem = path.filename().string() + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::size_t>(st.st_size) <= kMaxFileBytes;
  if (ok) {
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (ok && done < out.size()) {
      const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      if (ok) done += static_cast<std::size_t>(n);
    }
  }
  ::close(fd);
  if (!ok) problem = path.filename().string() + ": not a readable file of at most 64 KiB";
  if (info) *info = st;
  return ok;
}

BioPtr MemoryBio(const std::string& text) {
  return BioPtr(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

X509Ptr ReadCertificate(const fs::path& path, std::string& problem) {
  std::string text;
  if (!ReadSmallFile(path, text, problem)) return nullptr;
  const BioPtr bio = MemoryBio(text);
  X509Ptr cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!cert) problem = path.filename().string() + ": not a PEM certificate";
  return cert;
}

EvpPkeyPtr ReadKey(const fs::path& path, std::string& problem) {
  Secret text;
  struct stat st {};
  if (!ReadSmallFile(path, text.text, problem, &st)) return nullptr;
  // A key others could read may have been copied: it is not served again.
  if ((st.st_mode & 077) != 0 || st.st_uid != ::geteuid()) {
    problem = path.filename().string() + ": readable by others";
    return nullptr;
  }
  const BioPtr bio = MemoryBio(text.text);
  EvpPkeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!key) problem = path.filename().string() + ": not a PEM private key";
  return key;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// `text` into `folder`/`name` with `mode`, through a temporary file that
// has the mode from its creation and replaces the old file by rename.
bool ReplaceFile(const fs::path& folder, const char* name, const std::string& text, mode_t mode, std::string& problem) {
  std::string temp = (folder / (std::string(".") + name + ".XXXXXX")).string();
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // created 0600
  bool ok = fd >= 0 && ::fchmod(fd, mode) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
  if (fd >= 0) ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(temp.c_str(), (folder / name).c_str()) == 0;
  if (!ok) {
    problem = std::string(name) + ": " + std::strerror(errno);
    if (fd >= 0) ::unlink(temp.c_str());
  }
  return ok;
}

// The folder exists, is ours, is not a link, and has mode 0700.
bool PrepareFolder(const fs::path& folder, std::string& problem) {
  std::error_code ec;
  fs::create_directories(folder.parent_path(), ec);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    problem = folder.string() + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    problem = folder.string() + ": not a folder of this user's";
    return false;
  }
  if ((st.st_mode & 07777) != 0700 && ::chmod(folder.c_str(), 0700) != 0) {
    problem = folder.string() + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::string CertificatePem(X509* cert) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), cert) != 1) return {};
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(n));
}

void KeyPem(EVP_PKEY* key, Secret& out) {
  BioPtr bio(BIO_new(BIO_s_secmem()));
  if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) return;
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio.get(), &data);
  out.text.assign(data, static_cast<std::size_t>(n));
}

bool AnyIdentityFileExists(const fs::path& folder) {
  std::error_code ec;
  for (const char* name : {kIdentityCaFile, kIdentityCertificateFile, kIdentityKeyFile}) {
    if (fs::exists(fs::symlink_status(folder / name, ec))) return true;
  }
  return false;
}

}  // namespace

fs::path DefaultIdentityFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  fs::path base;
  if (data && *data == '/') {
    base = data;
  } else if (home && *home) {
    base = fs::path(home) / ".local/share";
  } else {
    return {};
  }
  return base / "vorlink/identity";
}

std::optional<UserIdentity> LoadUserIdentity(const fs::path& folder, std::string& problem) {
  UserIdentity identity;
  identity.ca = ReadCertificate(folder / kIdentityCaFile, problem);
  if (!identity.ca) return std::nullopt;
  identity.certificate = ReadCertificate(folder / kIdentityCertificateFile, problem);
  if (!identity.certificate) return std::nullopt;
  identity.key = ReadKey(folder / kIdentityKeyFile, problem);
  if (!identity.key) return std::nullopt;
  return identity;
}

bool StoreUserIdentity(const fs::path& folder, const UserIdentity& identity, std::string& problem) {
  if (!PrepareFolder(folder, problem)) return false;
  Secret key;
  KeyPem(identity.key.get(), key);
  const std::string certificate = CertificatePem(identity.certificate.get());
  const std::string ca = CertificatePem(identity.ca.get());
  if (key.text.empty() || certificate.empty() || ca.empty()) {
    problem = "cannot encode the identity as PEM";
    return false;
  }
  // The key first and the authority last: a set left half replaced by a
  // crash does not check out, and the next start makes a new one.
  return ReplaceFile(folder, kIdentityKeyFile, key.text, 0600, problem) &&
         ReplaceFile(folder, kIdentityCertificateFile, certificate, 0644, problem) &&
         ReplaceFile(folder, kIdentityCaFile, ca, 0644, problem);
}

EnsuredIdentity EnsureUserIdentity(const fs::path& folder, std::time_t now) {
  EnsuredIdentity result;
  if (folder.empty()) {
    result.problem = "no folder for the identity (HOME is not set)";
    return result;
  }
  if (!PrepareFolder(folder, result.problem)) return result;
  std::string problem;
  auto current = LoadUserIdentity(folder, problem);
  if (current) problem = IdentityProblem(*current, now);
  if (current && problem.empty()) {
    result.identity = std::move(current);
    return result;
  }
  result.replaced = AnyIdentityFileExists(folder) ? problem : "missing";
  auto made = MakeUserIdentity(now);
  if (!made) {
    result.problem = "OpenSSL could not make an identity";
    return result;
  }
  if (!StoreUserIdentity(folder, *made, result.problem)) return result;
  result.identity = std::move(made);
  return result;
}

}  // namespace vorlink
