#pragma once
// Reads a folder of diagnostic log files back and checks that every entry
// is whole: a formatted line ("[time] DEBUG - ..." or ERROR, ended by
// CR LF) or a request or response trace (lines ended by CR LF) from its
// begin line to its end line and the CR LF that closes the entry.

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace vorlink::bench {

struct LogCheck {
  std::size_t files = 0, entries = 0, request_traces = 0, response_traces = 0, timeouts = 0, broken = 0;
  std::vector<std::string> problems;  // the first few broken places
};

LogCheck CheckLogFolder(const std::filesystem::path& folder);

}  // namespace vorlink::bench
