#pragma once
// The one-file open dialog a page can ask for. Must run on the UI thread.
// Without a display nobody can answer it, so it answers as cancelled.

#include <QString>

namespace vorlink {

inline const QString kDefaultFileDialogTitle = QStringLiteral("Please select file");

// The chosen file's full path, or empty when cancelled.
QString SelectFileDialog(const QString& title);

}  // namespace vorlink
