#include "platform/process/agent_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

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

// The restart: the lock is given up first, then the successor starts with
// no arguments (a NOTRAY of the old command line is not passed on).
TEST(Restart, TheSuccessorGetsNoArgumentsAndFindsTheLockFree) {
  test::ScratchDir dir;
  ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
  ::unsetenv("XDG_SESSION_ID");
  const auto report = dir.path() / "report";
  const auto successor = dir.path() / "successor with space";
  std::ofstream(successor)
      << "#!/bin/sh\n"
      << "if flock -n \"$XDG_RUNTIME_DIR/vorlink45.lock\" true; then lock=free; else lock=held; fi\n"
      << "echo \"$# $lock\" > \"" << report.string() << ".tmp\"\n"
      << "mv \"" << report.string() << ".tmp\" \"" << report.string() << "\"\n";
  std::filesystem::permissions(successor, std::filesystem::perms::owner_all);
  SingleInstanceLock lock("vorlink45");
  ASSERT_TRUE(lock.held());
  lock.Release();
  StartSuccessor(successor);
  for (int i = 0; i < 200 && !std::filesystem::exists(report); ++i) ::usleep(20000);
  std::ifstream in(report);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "0 free");
}

}  // namespace
}  // namespace vorlink::platform
