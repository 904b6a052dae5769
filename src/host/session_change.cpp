#include "host/session_change.h"

#include "host/server/https_server_host.h"
#include "log/diagnostic_log.h"

namespace vorlink {

void ApplySessionChange(DiagnosticLog& log, HttpsServerHost& server, int code) {
  log.LogDebug(server.IsRunning() ? "SSL 服務模式 : TRUE" : "SSL 服務模式 : FALSE");
  if (code == kSessionLock) {
    log.LogDebug("收到 OnSessionChange(WTS_SESSION_LOCK) 指令, 準備進行切換使用者");
    if (server.IsRunning()) {
      log.LogDebug("準備停止 sslServer 服務");
      server.Stop();
      log.LogDebug("sslServer 服務已停止");
    }
  } else if (code == kSessionUnlock) {
    log.LogDebug("收到 OnSessionChange(WTS_SESSION_UNLOCK) 指令, 已經完成切換使用者");
    if (!server.IsRunning()) {
      log.LogDebug("準備啟動 sslServer 服務");
      server.Start();
    }
  }
}

}  // namespace vorlink
