#include "host/server/open_file_limit.h"

#include <sys/resource.h>

#include <algorithm>

namespace vorlink {

unsigned long RaiseOpenFileLimit() {
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) != 0) return 0;
  const rlim_t wanted = std::min<rlim_t>(files.rlim_max, kWantedOpenFiles);
  if (files.rlim_cur < wanted) {
    rlimit raised = files;
    raised.rlim_cur = wanted;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) files = raised;
  }
  return files.rlim_cur;
}

}  // namespace vorlink
