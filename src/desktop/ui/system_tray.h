#pragma once
// The agent's notification-area icon and its menu. A chosen item, or a
// double click (the default item), is sent on as a command id.

#include <QObject>
#include <QSystemTrayIcon>

class QMenu;

namespace vorlink {

class CSystemTray : public QObject {
  Q_OBJECT
 public:
  static constexpr int kMaxTooltip = 127;

  explicit CSystemTray(QObject* parent = nullptr);
  ~CSystemTray() override;

  // Shows the icon with the tooltip (cut to 127 characters). The tooltip
  // comes as the host writes it and shows in the windows' language. With
  // no notification area yet, the icon waits and appears when one does.
  bool CreateTrayIcon(const QString& tooltip, const QIcon& icon);
  bool DeleteTrayIcon();

  QMenu* menu() const { return menu_; }
  QString tooltip() const;
  bool visible() const;

 signals:
  void command(int id);

 private:
  void OnActivated(QSystemTrayIcon::ActivationReason reason);

  QSystemTrayIcon* icon_ = nullptr;
  QMenu* menu_ = nullptr;
};

}  // namespace vorlink
