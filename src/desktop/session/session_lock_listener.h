#pragma once
// Tells the agent when the user's desktop session is locked and unlocked.
// The codes follow the session-change numbering the host acts on: 7 for
// lock, 8 for unlock; nothing else is reported today.

#include <QObject>
#include <memory>

namespace vorlink {

inline constexpr int kSessionLock = 7;
inline constexpr int kSessionUnlock = 8;

class SessionLockListener : public QObject {
  Q_OBJECT
 public:
  explicit SessionLockListener(QObject* parent = nullptr);
  ~SessionLockListener() override;

  // Subscribes to whatever reports locking here. False only when no
  // source can be reached at all.
  bool Register();
  void Unregister();

  // Reports a lock state seen by any source; several sources reporting the
  // same change give one notification.
  void ReportLocked(bool locked);

 signals:
  void sessionChanged(int code);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
  bool locked_ = false;
};

}  // namespace vorlink
