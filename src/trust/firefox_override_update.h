#pragma once
// Brings one Firefox profile's cert_override.txt up to date with the
// agent's exception entries, with the log lines that say what happened.

#include <filesystem>
#include <string>
#include <vector>

namespace vorlink {

class DiagnosticLog;

// Creates the file when missing, appends the entries it lacks, leaves a
// complete one alone. False when the profile is to be skipped entirely:
// an existing file that is empty or unreadable.
bool UpdateOverrideFile(DiagnosticLog& log, const std::filesystem::path& profile,
                        const std::vector<std::string>& entries);

}  // namespace vorlink
