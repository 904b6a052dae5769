#pragma once
// Hands work from a worker thread to the UI thread and waits for the
// answer. Called on the UI thread itself it runs the work directly (a
// blocking queued call would wait for itself forever). A worker gives up
// with the fallback answer when the agent is stopping.

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>

namespace vorlink {

template <typename T, typename Work>
T RunOnUiThread(QObject* context, Work work, T fallback, const std::atomic<bool>& stopping) {
  if (QThread::currentThread() == context->thread()) return work();
  auto promise = std::make_shared<std::promise<T>>();
  auto answer = promise->get_future();
  const bool posted = QMetaObject::invokeMethod(
      context, [promise, work] { promise->set_value(work()); }, Qt::QueuedConnection);
  if (!posted) return fallback;
  while (answer.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
    if (stopping) return fallback;
  }
  return answer.get();
}

}  // namespace vorlink
