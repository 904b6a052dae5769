#pragma once
// The About box: the agent's icon, product name and version.

#include <QDialog>

class QLabel;

namespace vorlink {

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
  QString VersionText() const;

 private:
  QLabel* version_ = nullptr;
};

}  // namespace vorlink
