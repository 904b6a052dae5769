#include "p11crypto/files/file_transform.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "p11crypto/files/atomic_output.h"

namespace p11crypto {
namespace {

constexpr size_t kChunk = 1 << 16;

class InputFile {
 public:
  explicit InputFile(const std::filesystem::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~InputFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  bool is_open() const { return fd_ >= 0; }
  // Bytes read (0 at the end), -1 on an error.
  ssize_t Read(char* buffer, size_t size) {
    ssize_t got;
    do {
      got = ::read(fd_, buffer, size);
    } while (got < 0 && errno == EINTR);
    return got;
  }

 private:
  int fd_;
};

std::int32_t FailFile(ComponentState& state, const std::string& what, const std::filesystem::path& path) {
  return Fail(state, kFileError, what + " " + path.string() + ": " + std::strerror(errno));
}

}  // namespace

std::int32_t TransformFile(ComponentState& state, const std::string& input, const std::string& output,
                           int result_dispid, FileTransform& transform) {
  state.SetResult(result_dispid, "");
  if (input.empty() || output.empty()) return Fail(state, kBadArgument, "both an input and an output path are needed");
  const auto in_path = state.folders.Resolve(input);
  if (!in_path) return Fail(state, kFileNotAllowed, "not in an allowed folder: " + input);
  const auto out_path = state.folders.Resolve(output);
  if (!out_path) return Fail(state, kFileNotAllowed, "not in an allowed folder: " + output);
  if (std::filesystem::is_directory(*in_path)) return Fail(state, kFileError, "a folder, not a file: " + input);

  InputFile in(*in_path);
  if (!in.is_open()) return FailFile(state, "cannot open", *in_path);
  AtomicOutput out(*out_path);
  if (!out.Open()) return FailFile(state, "cannot create a file beside", *out_path);

  std::vector<char> buffer(kChunk);
  std::string produced;
  for (;;) {
    const ssize_t got = in.Read(buffer.data(), buffer.size());
    if (got < 0) return FailFile(state, "cannot read", *in_path);
    produced.clear();
    const bool ok =
        got > 0 ? transform.Update({buffer.data(), static_cast<size_t>(got)}, produced) : transform.Final(produced);
    if (!ok) return Fail(state, transform.code, transform.message);
    if (!out.Write(produced)) return FailFile(state, "cannot write", *out_path);
    if (got == 0) break;
  }
  if (!out.Commit()) return FailFile(state, "cannot complete", *out_path);
  state.SetResult(result_dispid, out_path->string());
  return Succeed(state);
}

}  // namespace p11crypto
