#include "desktop/ui/component_dialogs.h"

#include <QFileDialog>
#include <QGuiApplication>

namespace vorlink {
namespace {

bool NobodyCanAnswer() { return QGuiApplication::platformName() == QLatin1String("offscreen"); }

}  // namespace

QString SelectFolderDialog(const QString& title) {
  if (NobodyCanAnswer()) return {};
  QFileDialog dialog(nullptr, title);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly, true);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList folders = dialog.selectedFiles();
  return folders.isEmpty() ? QString() : folders.first();
}

QStringList SelectFilesDialog(const QString& title) {
  if (NobodyCanAnswer()) return {};
  QFileDialog dialog(nullptr, title);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setNameFilter(QStringLiteral("All Files (*)"));
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

}  // namespace vorlink
