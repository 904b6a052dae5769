#pragma once
// CVorlink45: the application object. One instance per login session, the
// NOTRAY switch, the main frame's life, and the restart by a successor.

#include <memory>
#include <string>
#include <vector>

namespace vorlink {

class CVorlink45 {
 public:
  // Runs the agent; returns the process exit code.
  int Run(int argc, char** argv);
};

}  // namespace vorlink
