#pragma once
// Tells the agent when the user's desktop session is locked and unlocked,
// as the session-change codes the host acts on (host/session_change.h);
// nothing else is reported today.

#include <QObject>
#include <memory>

#include "host/session_change.h"

namespace vorlink {

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
