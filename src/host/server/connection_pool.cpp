#include "host/server/connection_pool.h"

#include <algorithm>
#include <system_error>

namespace vorlink {

std::size_t ConnectionPool::DefaultCoreThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::max(8u, cores > 0 ? cores - 1 : 0u);
}

ConnectionPool::ConnectionPool(std::size_t core_threads, std::size_t max_threads, std::chrono::milliseconds idle_end)
    : core_threads_(core_threads), max_threads_(std::max(core_threads, max_threads)), idle_end_(idle_end) {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < core_threads_; ++i) Spawn();
}

ConnectionPool::~ConnectionPool() { shutdown(); }

void ConnectionPool::enqueue(std::function<void()> task) {
  std::lock_guard lock(mutex_);
  JoinEnded();
  tasks_.push_back(std::move(task));
  if (tasks_.size() > idle_ && threads_.size() < max_threads_) Spawn();
  ready_.notify_one();
}

void ConnectionPool::shutdown() {
  std::map<std::thread::id, std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    shutdown_ = true;
    threads.swap(threads_);
    ended_.clear();
  }
  ready_.notify_all();
  for (auto& [id, thread] : threads) thread.join();
}

std::size_t ConnectionPool::threads() const {
  std::lock_guard lock(mutex_);
  return threads_.size() - ended_.size();
}

// Called with the mutex held. A system out of threads leaves the task in
// the queue for the next free thread rather than failing the connection.
void ConnectionPool::Spawn() {
  try {
    std::thread thread([this] { Work(); });
    const auto id = thread.get_id();
    threads_.emplace(id, std::move(thread));
  } catch (const std::system_error&) {
  }
}

// Called with the mutex held; the ended threads no longer need it.
void ConnectionPool::JoinEnded() {
  for (const auto& id : ended_) {
    auto it = threads_.find(id);
    if (it == threads_.end()) continue;
    it->second.join();
    threads_.erase(it);
  }
  ended_.clear();
}

void ConnectionPool::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idle_;
    const bool woken = ready_.wait_for(lock, idle_end_, [this] { return !tasks_.empty() || shutdown_; });
    --idle_;
    if (tasks_.empty()) {
      if (shutdown_) return;
      // Threads beyond the core end after a quiet spell.
      if (!woken && threads_.size() - ended_.size() > core_threads_) {
        ended_.push_back(std::this_thread::get_id());
        return;
      }
      continue;
    }
    auto task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
}

}  // namespace vorlink
