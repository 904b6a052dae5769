// Lock and unlock as reported on D-Bus: the screen savers' ActiveChanged on
// the session bus, and the LockedHint of this login session in logind on
// the system bus. logind's Lock and Unlock signals are requests sent to the
// screen locker, not reports (a password unlock sends no Unlock), so they
// are not listened to.

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QVariantMap>

#include "desktop/session/session_lock_listener.h"

namespace vorlink {
namespace {

struct ScreenSaver {
  const char* service;
  const char* path;
};

constexpr ScreenSaver kScreenSavers[] = {
    {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver"},
    {"org.gnome.ScreenSaver", "/org/gnome/ScreenSaver"},
    {"org.cinnamon.ScreenSaver", "/org/cinnamon/ScreenSaver"},
    {"org.mate.ScreenSaver", "/org/mate/ScreenSaver"},
    {"org.xfce.ScreenSaver", "/org/xfce/ScreenSaver"},
};

// The real object path of this login session (never ".../session/auto",
// whose properties do not change).
QString LoginSessionPath(QDBusConnection& system) {
  QDBusInterface manager("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", system);
  if (!manager.isValid()) return {};
  const QByteArray id = qgetenv("XDG_SESSION_ID");
  QDBusReply<QDBusObjectPath> reply = id.isEmpty() ? manager.call("GetSessionByPID", static_cast<uint>(::getpid()))
                                                   : manager.call("GetSession", QString::fromUtf8(id));
  return reply.isValid() ? reply.value().path() : QString();
}

}  // namespace

class SessionLockListener::Impl : public QObject {
  Q_OBJECT
 public:
  explicit Impl(SessionLockListener& owner) : owner_(owner) {}

  bool Subscribe() {
    bool reached = false;
    QDBusConnection session = QDBusConnection::sessionBus();
    if (session.isConnected()) {
      reached = true;
      for (const auto& saver : kScreenSavers) {
        session.connect(saver.service, saver.path, saver.service, "ActiveChanged", this, SLOT(onActiveChanged(bool)));
      }
    }
    QDBusConnection system = QDBusConnection::systemBus();
    if (system.isConnected()) {
      reached = true;
      session_path_ = LoginSessionPath(system);
      if (!session_path_.isEmpty()) {
        system.connect("org.freedesktop.login1", session_path_, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                       this, SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
      }
    }
    return reached;
  }

  void Unsubscribe() {
    QDBusConnection session = QDBusConnection::sessionBus();
    for (const auto& saver : kScreenSavers) {
      session.disconnect(saver.service, saver.path, saver.service, "ActiveChanged", this, SLOT(onActiveChanged(bool)));
    }
    if (!session_path_.isEmpty()) {
      QDBusConnection::systemBus().disconnect("org.freedesktop.login1", session_path_,
                                              "org.freedesktop.DBus.Properties", "PropertiesChanged", this,
                                              SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
    }
  }

 private slots:
  void onActiveChanged(bool active) { owner_.ReportLocked(active); }
  void onPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList&) {
    if (interface != "org.freedesktop.login1.Session") return;
    const auto it = changed.find("LockedHint");
    if (it != changed.end()) owner_.ReportLocked(it->toBool());
  }

 private:
  SessionLockListener& owner_;
  QString session_path_;
};

SessionLockListener::SessionLockListener(QObject* parent) : QObject(parent), impl_(std::make_unique<Impl>(*this)) {}
SessionLockListener::~SessionLockListener() = default;

bool SessionLockListener::Register() { return impl_->Subscribe(); }
void SessionLockListener::Unregister() { impl_->Unsubscribe(); }

void SessionLockListener::ReportLocked(bool locked) {
  if (locked == locked_) return;
  locked_ = locked;
  emit sessionChanged(locked ? kSessionLock : kSessionUnlock);
}

}  // namespace vorlink

#include "session_lock_listener_dbus.moc"
