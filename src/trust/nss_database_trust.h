#pragma once
// One NSS database brought to trust the agent's authority and nothing an
// earlier identity or version of the agent put there: the shared CA of
// earlier versions (ORVA_SSLCA, only while it holds exactly that
// certificate), and every earlier identity's authority.

#include <filesystem>
#include <string>

#include "trust/agent_trust.h"
#include "trust/certutil.h"

namespace vorlink {

class DiagnosticLog;

// Creates the database in `folder` first when it has none (the folder
// too, mode 0700). True when the database trusts the agent's authority
// afterwards.
bool TrustNssDatabase(DiagnosticLog& log, const CertutilRunner& run, const std::string& certutil,
                      const std::filesystem::path& folder, const AgentTrust& trust);

}  // namespace vorlink
