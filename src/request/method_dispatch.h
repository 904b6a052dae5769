#pragma once
// What a method name means: four names the agent answers itself, and the
// 94 members of the crypto component, called by dispatch id.

#include <string>

#include "component/argument_array.h"

namespace vorlink {

class ComponentWrapper;
class DiagnosticLog;

// Shows the one-file dialog for `selectFile`; empty when cancelled.
class FileSelectionService {
 public:
  virtual ~FileSelectionService() = default;
  virtual std::u16string SelectFile(std::u16string_view title) = 0;
};

// Answers every dialog as cancelled (no desktop to show it on).
class CancelledFileSelection final : public FileSelectionService {
 public:
  std::u16string SelectFile(std::u16string_view) override { return {}; }
};

class MethodDispatch {
 public:
  MethodDispatch(DiagnosticLog& log, FileSelectionService& files) : log_(log), files_(files) {}

  // The answer text for args[0] called on `wrapper`. A component failure
  // escapes as ComponentFault and leaves the last-use tick as it was.
  std::string Dispatch(ComponentWrapper* wrapper, const ArgumentArray& args);

 private:
  DiagnosticLog& log_;
  FileSelectionService& files_;
};

}  // namespace vorlink
