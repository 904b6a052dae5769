#include "p11crypto/files/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>

#include "p11crypto/crypto/openssl_ptr.h"

namespace p11crypto {
namespace fs = std::filesystem;
namespace {

constexpr size_t kChunk = 1 << 20;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

bool WriteAll(int fd, const std::uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool DigestFile(const fs::path& file, const EVP_MD* md, Bytes& digest, const Progress& progress) {
  Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  MdCtxPtr context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), md, nullptr) != 1) return false;
  Bytes chunk(kChunk);
  std::uint64_t done = 0;
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk.data(), chunk.size());
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

bool WriteFileAtomically(const fs::path& file, const Bytes& data) {
  std::string temporary = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
  Fd fd(::mkstemp(temporary.data()));
  if (fd.get() < 0) return false;
  const bool written = WriteAll(fd.get(), data.data(), data.size()) && ::fsync(fd.get()) == 0 &&
                       ::close(fd.release()) == 0 && std::rename(temporary.c_str(), file.c_str()) == 0;
  if (!written) ::unlink(temporary.c_str());
  return written;
}

bool ReadWholeFile(const fs::path& file, Bytes& data, std::uint64_t limit) {
  Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  if (static_cast<std::uint64_t>(info.st_size) > limit) return false;
  data.clear();
  Bytes chunk(kChunk);
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (data.size() + static_cast<size_t>(n) > limit) return false;
    data.insert(data.end(), chunk.begin(), chunk.begin() + n);
  }
}

}  // namespace p11crypto
