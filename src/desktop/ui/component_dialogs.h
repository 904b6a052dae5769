#pragma once
// The folder and file dialogs a component asks for. Must run on the UI
// thread. Without a display nobody can answer them, so they answer as
// cancelled.

#include <QString>
#include <QStringList>

namespace vorlink {

inline const QString kDefaultFolderDialogTitle = QStringLiteral("Please select folder");
inline const QString kDefaultFilesDialogTitle = QStringLiteral("Please select files");

// The chosen existing folder's full path, or empty when cancelled.
QString SelectFolderDialog(const QString& title);

// The chosen existing files' full paths, or none when cancelled.
QStringList SelectFilesDialog(const QString& title);

}  // namespace vorlink
