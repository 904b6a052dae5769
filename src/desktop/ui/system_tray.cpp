#include "desktop/ui/system_tray.h"

#include <QAction>
#include <QMenu>

#include "desktop/ui/tray_menu.h"

namespace vorlink {
namespace {

// The tooltips the host hands the tray (host/tray_tooltip.h), named here
// so that update_translations keeps their English in the .ts file.
[[maybe_unused]] constexpr const char* kHostTooltips[] = {
    QT_TRANSLATE_NOOP("vorlink::CSystemTray", "NESTO Zanthe - 版本 : 4.5.23.1"),
};

}  // namespace

CSystemTray::CSystemTray(QObject* parent) : QObject(parent), menu_(new QMenu) {
  for (const TrayMenuItem& item : kTrayMenu) {
    if (item.command == kCmdSeparator) {
      menu_->addSeparator();
      continue;
    }
    QAction* action = menu_->addAction(tr(item.text));
    action->setData(item.command);
    const int id = item.command;
    connect(action, &QAction::triggered, this, [this, id] { emit command(id); });
    if (id == kCmdCustomOptions) {
      // The default item: bold, and what a double click runs; nothing handles it.
      menu_->setDefaultAction(action);
      action->setEnabled(false);
    }
  }
}

CSystemTray::~CSystemTray() {
  DeleteTrayIcon();
  delete menu_;
}

bool CSystemTray::CreateTrayIcon(const QString& tooltip, const QIcon& icon) {
  if (!icon_) {
    icon_ = new QSystemTrayIcon(this);
    connect(icon_, &QSystemTrayIcon::activated, this, &CSystemTray::OnActivated);
  }
  icon_->setIcon(icon);
  icon_->setToolTip(tr(tooltip.toUtf8().constData()).left(kMaxTooltip));
  icon_->setContextMenu(menu_);
  icon_->show();
  return true;
}

bool CSystemTray::DeleteTrayIcon() {
  if (icon_) icon_->hide();
  return true;
}

QString CSystemTray::tooltip() const { return icon_ ? icon_->toolTip() : QString(); }
bool CSystemTray::visible() const { return icon_ && icon_->isVisible(); }

void CSystemTray::OnActivated(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::DoubleClick) emit command(kCmdCustomOptions);
}

}  // namespace vorlink
