#include "p11crypto/files/file_transform.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include "p11crypto/files/anchored_file.h"
#include "p11crypto/files/file_target.h"

namespace p11crypto {
namespace {

constexpr size_t kChunk = 1 << 16;

// Stands for "the transform refused the input" among errno values, so
// that the temporary output is removed like after a failed write.
constexpr int kTransformFailed = ECANCELED;

int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? errno : EIO;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return 0;
}

// Reads `in` to its end through the transform into `out`: 0, an errno
// value, or kTransformFailed. `read_failed` tells a read error from a write
// error.
int Pump(int in, int out, FileTransform& transform, bool& read_failed) {
  std::vector<char> buffer(kChunk);
  std::string produced;
  for (;;) {
    ssize_t got;
    do {
      got = ::read(in, buffer.data(), buffer.size());
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
      read_failed = true;
      return errno;
    }
    produced.clear();
    const bool ok =
        got > 0 ? transform.Update({buffer.data(), static_cast<size_t>(got)}, produced) : transform.Final(produced);
    if (!ok) return kTransformFailed;
    if (const int error = WriteAll(out, produced)) return error;
    if (got == 0) return 0;
  }
}

}  // namespace

std::int32_t TransformFile(ComponentState& state, const std::string& input, const std::string& output,
                           int result_dispid, FileTransform& transform) {
  state.SetResult(result_dispid, "");
  if (input.empty() || output.empty()) return Fail(state, kBadArgument, "both an input and an output path are needed");
  std::int32_t code = kOk;
  const auto in_path = FileTarget(state, input, code);
  if (!in_path) return code;
  const auto out_path = FileTarget(state, output, code);
  if (!out_path) return code;

  UniqueFd in;
  if (const int error = OpenForReading(*in_path, in)) return FailFile(state, error, "cannot open", in_path->path);
  bool read_failed = false;
  const int error =
      WriteThroughTemporary(*out_path, [&](int out) { return Pump(in.get(), out, transform, read_failed); });
  if (error == kTransformFailed) return Fail(state, transform.code, transform.message);
  if (error)
    return FailFile(state, error, read_failed ? "cannot read" : "cannot write",
                    (read_failed ? in_path : out_path)->path);
  state.SetResult(result_dispid, out_path->path.string());
  return Succeed(state);
}

}  // namespace p11crypto
