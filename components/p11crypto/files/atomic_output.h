#pragma once
// An output file that appears under its final name only when complete: the
// bytes go to a temporary file in the same folder, which Commit renames
// over the final name. Anything short of Commit removes the temporary file,
// so a failure never leaves half a file, nor disturbs an older one.

#include <filesystem>
#include <string_view>

namespace p11crypto {

class AtomicOutput {
 public:
  explicit AtomicOutput(std::filesystem::path final_path);
  ~AtomicOutput();  // removes the temporary file unless committed
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  bool Open();  // creates the temporary file
  bool Write(std::string_view bytes);
  bool Commit();  // flushes to disk and renames over the final name

 private:
  void Discard();

  std::filesystem::path final_path_;
  std::filesystem::path temporary_path_;
  int fd_ = -1;
};

}  // namespace p11crypto
