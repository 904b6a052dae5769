#pragma once
// The road every file-to-file member takes: both paths checked against the
// allowed folders, the input read in fixed chunks through a transform, the
// output written beside its final name and renamed there only when the
// transform accepted the whole input. Memory stays flat for any file size.

#include <cstdint>
#include <string>
#include <string_view>

#include "p11crypto/component_state.h"

namespace p11crypto {

// Turns the input's bytes into the output's, chunk by chunk. A transform
// that fails sets `code` and `message` and returns false.
class FileTransform {
 public:
  virtual ~FileTransform() = default;
  virtual bool Update(std::string_view in, std::string& out) = 0;
  virtual bool Final(std::string& out) = 0;

  std::int32_t code = kOk;
  std::string message;
};

// Runs `transform` from `input` to `output` (as the page named them). On
// success stores the output's absolute path as result `result_dispid`,
// which is empty after a failure.
// Paths outside the allowed folders fail with kFileNotAllowed before
// anything is opened. Both files are reached from their opened folders
// (files/file_target.h), and the output is written to a temporary file in
// its folder and renamed there.
std::int32_t TransformFile(ComponentState& state, const std::string& input, const std::string& output,
                           int result_dispid, FileTransform& transform);

}  // namespace p11crypto
