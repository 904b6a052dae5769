#include "platform/process/agent_process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/single_instance/single_instance_lock.h"
#include "support/test_paths.h"

namespace vorlink::platform {
namespace {

TEST(ShowTray, NotrayInAnyCaseAnywhereHidesTheTray) {
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{}, true},
      {{"NOTRAY"}, false},
      {{"notray"}, false},
      {{"/NoTray"}, false},
      {{"--withnotrayplease"}, false},
      {{"NO", "TRAY"}, true},  // joined with a space: "NO TRAY"
      {{"-x", "nOtRaY"}, false},
      {{"tray"}, true},
  };
  for (const auto& [args, show] : cases) EXPECT_EQ(ShowTrayFromArguments(args), show) << ::testing::PrintToString(args);
}

// Whether another process can take the lock right now: 1 yes, 0 no.
int TakenByAnotherProcess(const std::string& name) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    SingleInstanceLock lock(name);
    ::_exit(lock.held() ? 1 : 0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WEXITSTATUS(status);
}

TEST(SingleInstanceLock, OneHolderPerSessionAndNameUntilReleased) {
  test::ScratchDir runtime;
  ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  ::setenv("XDG_SESSION_ID", "7", 1);
  SingleInstanceLock first("vorlink45");
  ASSERT_TRUE(first.held());
  EXPECT_EQ(TakenByAnotherProcess("vorlink45"), 0);
  EXPECT_EQ(TakenByAnotherProcess("renamed-copy"), 1) << "the name is the executable's";
  ::setenv("XDG_SESSION_ID", "8", 1);
  EXPECT_EQ(TakenByAnotherProcess("vorlink45"), 1) << "another login session runs its own agent";
  ::setenv("XDG_SESSION_ID", "7", 1);
  first.Release();
  EXPECT_FALSE(first.held());
  EXPECT_EQ(TakenByAnotherProcess("vorlink45"), 1) << "a successor finds the lock free";
  ::unsetenv("XDG_SESSION_ID");
}

}  // namespace
}  // namespace vorlink::platform
