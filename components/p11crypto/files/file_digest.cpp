#include "p11crypto/files/file_digest.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "p11crypto/crypto/openssl_ptr.h"

namespace p11crypto {
namespace {

constexpr size_t kChunk = 1 << 20;

}  // namespace

bool DigestFile(int fd, const EVP_MD* md, Bytes& digest, const Progress& progress) {
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  MdCtxPtr context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), md, nullptr) != 1) return false;
  Bytes chunk(kChunk);
  std::uint64_t done = 0;
  for (;;) {
    const ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    EVP_DigestUpdate(context.get(), chunk.data(), static_cast<size_t>(n));
    done += static_cast<std::uint64_t>(n);
    if (progress) progress(done, static_cast<std::uint64_t>(info.st_size));
  }
  digest.resize(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &size) != 1) return false;
  digest.resize(size);
  return true;
}

}  // namespace p11crypto
