#include "platform/process/stop_watchdog.h"

#include <unistd.h>

#include <atomic>
#include <thread>

namespace vorlink::platform {

void StartStopWatchdog(std::chrono::milliseconds budget) {
  static std::atomic<bool> started{false};
  if (started.exchange(true)) return;
  std::thread([budget] {
    std::this_thread::sleep_for(budget);
    ::_exit(0);  // no destructors: the threads they would wait for are stuck
  }).detach();
}

}  // namespace vorlink::platform
