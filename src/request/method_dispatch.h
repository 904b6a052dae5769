#pragma once
// What a method name means: four names the agent answers itself, and the
// 94 members of the crypto component, called by dispatch id.

#include <string>

#include "component/argument_array.h"
#include "request/file_selection_service.h"

namespace vorlink {

class ComponentWrapper;
class DiagnosticLog;

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
