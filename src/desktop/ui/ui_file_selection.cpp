#include "desktop/ui/ui_file_selection.h"

#include "desktop/ui/file_selection_dialog.h"
#include "desktop/ui/ui_thread.h"

namespace vorlink {

std::u16string UiFileSelection::SelectFile(std::u16string_view title) {
  const QString qtitle = QString::fromStdU16String(std::u16string(title));
  return RunOnUiThread<std::u16string>(
      context_, [qtitle] { return SelectFileDialog(qtitle).toStdU16String(); }, std::u16string(), stopping_);
}

}  // namespace vorlink
