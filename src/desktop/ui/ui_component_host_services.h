#pragma once
// The dialogs components ask for, shown on the UI thread while the calling
// worker waits, the same way as `selectFile`. The UI thread keeps serving
// timers and session events meanwhile; at shutdown waiting workers give up
// as cancelled.

#include <QObject>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>

#include "component/component_host_services.h"

namespace vorlink {

class WaitWindow;

class UiComponentHostServices final : public ComponentHostServices {
 public:
  // The dialogs to show; tests replace them. Both run on the UI thread and
  // answer empty when cancelled.
  struct Dialogs {
    std::function<QString(const QString& title)> select_folder;
    std::function<QStringList(const QString& title)> select_files;
  };
  static Dialogs DesktopDialogs();

  explicit UiComponentHostServices(QObject* ui_context, Dialogs dialogs = DesktopDialogs());
  ~UiComponentHostServices() override;

  std::optional<std::string> SelectFolder(const std::string& title) override;
  std::optional<std::vector<std::string>> SelectFiles(const std::string& title) override;
  // One wait window for all components: BeginWait while it is shown only
  // changes its message.
  void BeginWait(const std::string& message) override;
  void SetWaitMessage(const std::string& message) override;
  void EndWait() override;

  // Workers waiting for the UI thread give up from now on.
  void Stop() { stopping_ = true; }
  // The wait window while it is shown, else null. UI thread only.
  const WaitWindow* wait_window() const { return wait_.get(); }

 private:
  template <typename Work>
  void OnUiThread(Work work);

  QObject* context_;
  Dialogs dialogs_;
  std::unique_ptr<WaitWindow> wait_;  // used on the UI thread only
  std::atomic<bool> stopping_{false};
};

}  // namespace vorlink
