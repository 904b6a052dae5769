#pragma once
// Brings one Firefox profile's cert_override.txt up to date with the
// agent's exception entries, with the log lines that say what happened.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlink {

class DiagnosticLog;

// Creates the file when missing; else drops the lines `stale` names and
// appends the entries it lacks, and leaves a file that needs neither
// alone. False when the profile is to be skipped entirely: an existing
// file that is empty or unreadable.
bool UpdateOverrideFile(DiagnosticLog& log, const std::filesystem::path& profile,
                        const std::vector<std::string>& entries,
                        const std::function<bool(std::string_view line)>& stale);

}  // namespace vorlink
