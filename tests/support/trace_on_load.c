/* A shared library that leaves a trace when anything loads it: its
 * constructor creates the file named by VORLINK_TEST_LOAD_TRACE. The
 * hostile-page tests write it through the file members and prove that
 * naming it in Initialize runs none of its code. */
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

__attribute__((constructor)) static void LeaveTrace(void) {
  const char* path = getenv("VORLINK_TEST_LOAD_TRACE");
  if (path) close(open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
}
