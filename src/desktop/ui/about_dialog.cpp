#include "desktop/ui/about_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "desktop/ui/agent_icon.h"

namespace vorlink {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("關於 NESTO Zanthe"));
  auto* icon = new QLabel(this);
  icon->setPixmap(LoadAgentIcon().pixmap(40, 40));
  version_ = new QLabel(tr("NESTO Zanthe - 4.5.23.1 版"), this);
  version_->setObjectName("versionText");
  auto* notice = new QLabel(tr("網頁使用智慧卡與 PKCS#11 憑證的本機中介程式"), this);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(tr("確定"), QDialogButtonBox::AcceptRole)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QGridLayout(this);
  layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  layout->addWidget(version_, 0, 1);
  layout->addWidget(notice, 1, 1);
  layout->addWidget(buttons, 2, 0, 1, 2);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString CAboutDlg::VersionText() const { return version_->text(); }

}  // namespace vorlink
