#include "desktop/ui/file_selection_dialog.h"

#include <QFileDialog>
#include <QGuiApplication>

namespace vorlink {

QString SelectFileDialog(const QString& title) {
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) return {};
  QFileDialog dialog(nullptr, title.isEmpty() ? kDefaultFileDialogTitle : title);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);  // the file need not exist
  dialog.setNameFilter(QStringLiteral("All Files (*)"));
  dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

}  // namespace vorlink
