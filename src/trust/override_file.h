#pragma once
// The rules for one profile's cert_override.txt: what a new file holds,
// which entries an existing file lacks, which lines go, and a write that
// never leaves a half-written file behind.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlink {

// The whole new file: two comment lines and the entries, each ended by CR LF.
std::string NewOverrideFile(const std::vector<std::string>& entries);

// `content` with every entry it lacks appended (each followed by CR LF), or
// nothing when it already holds them all. An entry counts as present when
// its line appears anywhere before the first NUL byte.
std::optional<std::string> AddMissingEntries(const std::string& content, const std::vector<std::string>& entries);

// `content` without the lines for which `stale` is true (a line ends at
// "\n"; its "\r" goes with it), every other byte as it was; nothing when
// no line goes.
std::optional<std::string> DropLines(const std::string& content,
                                     const std::function<bool(std::string_view line)>& stale);

// Replaces `path` with `content` through a temporary file in the same
// folder and a rename, so the old file stays whole if anything fails.
// Returns the number of bytes stored (0 on failure).
std::size_t WriteFileAtomically(const std::filesystem::path& path, const std::string& content);

}  // namespace vorlink
