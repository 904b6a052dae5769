#pragma once
// The one-file dialog behind `selectFile`, as the desktop layer provides it.

#include <string>
#include <string_view>

namespace vorlink {

class FileSelectionService {
 public:
  virtual ~FileSelectionService() = default;
  // The chosen file's full path; empty when cancelled.
  virtual std::u16string SelectFile(std::u16string_view title) = 0;
};

// Answers every dialog as cancelled (no desktop to show it on).
class CancelledFileSelection final : public FileSelectionService {
 public:
  std::u16string SelectFile(std::u16string_view) override { return {}; }
};

}  // namespace vorlink
