#include "p11crypto/files/anchored_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>
#include <random>

namespace p11crypto {
namespace {

constexpr std::size_t kCopyChunk = 1 << 20;

// Opens the last component as a regular file. O_NONBLOCK keeps a FIFO from
// blocking the open; for regular files it changes nothing.
int OpenRegular(const AllowedPath& file, int flags, UniqueFd& fd) {
  if (!file.folder) return ENOENT;
  fd = UniqueFd(::openat(file.folder.get(), file.name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
  if (!fd) return errno;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return errno;
  if (!S_ISREG(info.st_mode)) {
    fd.Reset();
    return S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
  }
  return 0;
}

int CheckRegular(const AllowedPath& file, struct stat& info) {
  if (!file.folder) return ENOENT;
  if (::fstatat(file.folder.get(), file.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (S_ISREG(info.st_mode)) return 0;
  return S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
}

int WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? errno : EIO;
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

int CopyAll(int in, int out) {
  std::string buffer(kCopyChunk, '\0');
  for (;;) {
    const ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) return 0;
    if (const int error = WriteAll(out, std::string_view(buffer.data(), static_cast<std::size_t>(got)))) return error;
  }
}

// A hidden name beside the target that no other writer uses.
std::string TemporaryName(const std::string& name) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  return "." + name.substr(0, 200) + "." + std::to_string(random() % 1000000000) + ".tmp";
}

// WriteThroughTemporary with the new file's permissions: unset keeps those
// of the file it replaces.
int WriteWithMode(const AllowedPath& file, const std::function<int(int)>& fill, std::optional<mode_t> mode) {
  if (!file.folder) return ENOENT;
  const int folder = file.folder.get();
  struct stat old {};
  if (::fstatat(folder, file.name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(old.st_mode)) return EISDIR;
    if (!mode && S_ISREG(old.st_mode)) mode = old.st_mode & 07777;
  }
  std::string temporary;
  UniqueFd out;
  for (int attempt = 0; attempt < 8 && !out; ++attempt) {
    temporary = TemporaryName(file.name);
    out = UniqueFd(::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!out && errno != EEXIST) return errno;
  }
  if (!out) return EEXIST;
  int error = fill(out.get());
  if (!error && mode && ::fchmod(out.get(), *mode) != 0) error = errno;
  if (!error && ::fsync(out.get()) != 0) error = errno;
  if (!error && ::renameat(folder, temporary.c_str(), folder, file.name.c_str()) != 0) error = errno;
  if (error) {
    ::unlinkat(folder, temporary.c_str(), 0);
    return error;
  }
  ::fsync(folder);  // fails harmlessly on a folder that could only be opened as a path
  return 0;
}

}  // namespace

int OpenForReading(const AllowedPath& file, UniqueFd& fd) { return OpenRegular(file, O_RDONLY, fd); }

int WriteThroughTemporary(const AllowedPath& file, const std::function<int(int fd)>& fill) {
  return WriteWithMode(file, fill, std::nullopt);
}

int ReadWholeFile(const AllowedPath& file, std::size_t limit, std::string& bytes, std::uint64_t& size) {
  bytes.clear();
  UniqueFd fd;
  if (const int error = OpenRegular(file, O_RDONLY, fd)) return error;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return errno;
  size = static_cast<std::uint64_t>(info.st_size);
  if (size > limit) return EFBIG;
  // Room for one byte more than the size, to notice a file that grows
  // meanwhile; it may grow up to the limit and one byte beyond.
  bytes.resize(static_cast<std::size_t>(size) + 1);
  std::size_t done = 0;
  for (;;) {
    const ssize_t got = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
    if (done == bytes.size()) {
      if (done > limit) break;
      bytes.resize(std::min(limit + 1, done * 2));
    }
  }
  if (done > limit) {
    bytes.clear();
    return EFBIG;
  }
  bytes.resize(done);
  size = done;
  return 0;
}

int ReadFileChunk(const AllowedPath& file, std::uint64_t offset, std::size_t length, std::string& bytes) {
  bytes.clear();
  UniqueFd fd;
  if (const int error = OpenRegular(file, O_RDONLY, fd)) return error;
  bytes.resize(length);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t got = ::pread(fd.get(), bytes.data() + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  bytes.resize(done);
  return 0;
}

int ReplaceFile(const AllowedPath& file, std::string_view data) {
  return WriteThroughTemporary(file, [data](int out) { return WriteAll(out, data); });
}

int AppendToFile(const AllowedPath& file, std::string_view data) {
  UniqueFd fd;
  if (const int error = OpenRegular(file, O_WRONLY | O_APPEND | O_CREAT, fd)) return error;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return errno;
  int error = WriteAll(fd.get(), data);
  if (!error && ::fsync(fd.get()) != 0) error = errno;
  if (error && ::ftruncate(fd.get(), info.st_size) == 0) ::fsync(fd.get());
  return error;
}

int MoveFile(const AllowedPath& from, const AllowedPath& to) {
  struct stat info {};
  if (const int error = CheckRegular(from, info)) return error;
  if (!to.folder) return ENOENT;
  if (::renameat(from.folder.get(), from.name.c_str(), to.folder.get(), to.name.c_str()) == 0) {
    ::fsync(to.folder.get());
    ::fsync(from.folder.get());
    return 0;
  }
  if (errno != EXDEV) return errno;
  UniqueFd in;
  if (const int error = OpenRegular(from, O_RDONLY, in)) return error;
  const int error = WriteWithMode(
      to, [&in](int out) { return CopyAll(in.get(), out); }, info.st_mode & 07777);
  if (error) return error;
  return ::unlinkat(from.folder.get(), from.name.c_str(), 0) == 0 ? 0 : errno;
}

int DeleteFile(const AllowedPath& file) {
  struct stat info {};
  if (const int error = CheckRegular(file, info)) return error;
  if (::unlinkat(file.folder.get(), file.name.c_str(), 0) != 0) return errno;
  ::fsync(file.folder.get());
  return 0;
}

}  // namespace p11crypto
