#pragma once
// What the agent does when the desktop session is locked or unlocked: it
// gives its port up while locked, so another user's agent can serve, and
// takes one back on unlock. The codes are the session-change numbers the
// desktop layer reports; any other code is only logged.

namespace vorlink {

class DiagnosticLog;
class HttpsServerHost;

enum SessionChangeCode : int {
  kSessionLock = 7,
  kSessionUnlock = 8,
};

void ApplySessionChange(DiagnosticLog& log, HttpsServerHost& server, int code);

}  // namespace vorlink
