#include "desktop/ui/ui_component_host_services.h"

#include "desktop/ui/component_dialogs.h"
#include "desktop/ui/ui_thread.h"
#include "desktop/ui/wait_window.h"

namespace vorlink {
namespace {

QString TitleOr(const std::string& title, const QString& fallback) {
  return title.empty() ? fallback : QString::fromStdString(title);
}

}  // namespace

UiComponentHostServices::Dialogs UiComponentHostServices::DesktopDialogs() {
  return {SelectFolderDialog, SelectFilesDialog};
}

UiComponentHostServices::UiComponentHostServices(QObject* ui_context, Dialogs dialogs)
    : context_(ui_context), dialogs_(std::move(dialogs)) {}

UiComponentHostServices::~UiComponentHostServices() = default;

template <typename Work>
void UiComponentHostServices::OnUiThread(Work work) {
  RunOnUiThread<bool>(
      context_,
      [work] {
        work();
        return true;
      },
      false, stopping_);
}

std::optional<std::string> UiComponentHostServices::SelectFolder(const std::string& title) {
  const QString qtitle = TitleOr(title, kDefaultFolderDialogTitle);
  const QString folder = RunOnUiThread<QString>(
      context_, [this, qtitle] { return dialogs_.select_folder(qtitle); }, QString(), stopping_);
  if (folder.isEmpty()) return std::nullopt;
  return folder.toStdString();
}

std::optional<std::vector<std::string>> UiComponentHostServices::SelectFiles(const std::string& title) {
  const QString qtitle = TitleOr(title, kDefaultFilesDialogTitle);
  const QStringList files = RunOnUiThread<QStringList>(
      context_, [this, qtitle] { return dialogs_.select_files(qtitle); }, QStringList(), stopping_);
  std::vector<std::string> paths;
  for (const QString& file : files) {
    if (!file.isEmpty()) paths.push_back(file.toStdString());
  }
  if (paths.empty()) return std::nullopt;
  return paths;
}

void UiComponentHostServices::BeginWait(const std::string& message) {
  const QString text = QString::fromStdString(message);
  OnUiThread([this, text] {
    if (!wait_) wait_ = std::make_unique<WaitWindow>();
    wait_->SetMessage(text);
    wait_->show();
    wait_->raise();
  });
}

void UiComponentHostServices::SetWaitMessage(const std::string& message) {
  const QString text = QString::fromStdString(message);
  OnUiThread([this, text] {
    if (wait_) wait_->SetMessage(text);
  });
}

void UiComponentHostServices::EndWait() {
  OnUiThread([this] { wait_.reset(); });
}

}  // namespace vorlink
