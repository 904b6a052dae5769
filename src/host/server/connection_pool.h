#pragma once
// The worker pool behind one listener. The HTTP library hands each accepted
// connection to one task, and that task holds its thread for the whole life
// of the connection: the TLS handshake (each wait bounded by the read
// time-out), every request, and the keep-alive waits between them. With the
// library's fixed pool of max(8, cores - 1) threads, eight silent or
// slow-dripping connections took every thread, and a thousand idle ones
// queued a page behind minutes of time-outs. This pool keeps that many
// threads and starts one more whenever a connection arrives and no thread
// is free, up to a ceiling; the extra threads end after a while idle. A
// silent connection still costs a thread until its time-out, but no longer
// keeps anyone else waiting.

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace vorlink {

class ConnectionPool final : public httplib::TaskQueue {
 public:
  // The library's own pool size, kept as the threads that never end.
  static std::size_t DefaultCoreThreads();
  // Beyond a thousand connections at once the open-file limit of a desktop
  // session (1024 by default) binds first; the ceiling keeps a flood from
  // taking more threads than that with some room for the agent's own.
  static constexpr std::size_t kMaxThreads = 2048;
  static constexpr std::chrono::seconds kIdleEnd{10};

  explicit ConnectionPool(std::size_t core_threads = DefaultCoreThreads(), std::size_t max_threads = kMaxThreads,
                          std::chrono::milliseconds idle_end = kIdleEnd);
  ~ConnectionPool() override;
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  void enqueue(std::function<void()> task) override;
  // Runs the tasks already queued, then ends and joins every thread.
  void shutdown() override;

  std::size_t threads() const;

 private:
  void Work();
  void Spawn();
  void JoinEnded();

  const std::size_t core_threads_;
  const std::size_t max_threads_;
  const std::chrono::milliseconds idle_end_;
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> tasks_;
  std::map<std::thread::id, std::thread> threads_;
  std::vector<std::thread::id> ended_;  // threads that left Work() and wait to be joined
  std::size_t idle_ = 0;
  bool shutdown_ = false;
};

}  // namespace vorlink
