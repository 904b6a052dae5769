#pragma once
// `selectFile` from a worker thread: the dialog runs on the UI thread while
// the worker waits; the UI thread keeps serving timers and session events.

#include <QObject>
#include <atomic>

#include "request/file_selection_service.h"

namespace vorlink {

class UiFileSelection final : public FileSelectionService {
 public:
  explicit UiFileSelection(QObject* ui_context) : context_(ui_context) {}
  std::u16string SelectFile(std::u16string_view title) override;
  // Workers waiting for a dialog give up (as cancelled) from now on.
  void Stop() { stopping_ = true; }

 private:
  QObject* context_;
  std::atomic<bool> stopping_{false};
};

}  // namespace vorlink
