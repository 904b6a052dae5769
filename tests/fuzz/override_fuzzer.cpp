// libFuzzer target: any bytes as an existing cert_override.txt, brought up
// to date with the agent's three entries and written the way the agent
// writes it. The existing bytes stay as they were (so every line the file
// had stays whole), each missing entry follows them with CR LF, and a
// second update of a file without NUL bytes finds nothing to add.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/resources/resource_ids.h"
#include "platform/resources/resource_source.h"
#include "trust/override_entry.h"
#include "trust/override_file.h"

namespace {
namespace fs = std::filesystem;

void Check(bool ok) {
  if (!ok) std::abort();
}

const std::vector<std::string>& Entries() {
  static const std::vector<std::string> entries = [] {
    const auto cert = vorlink::platform::EmbeddedResourceSource().Load(vorlink::platform::kLocalhostResourceType,
                                                                       vorlink::platform::kIdrLocalCert);
    const auto fields = vorlink::ComputeOverrideFields(cert.bytes);
    std::vector<std::string> lines;
    for (int port : {48200, 48201, 48202}) lines.push_back(vorlink::OverrideEntryLine(port, *fields));
    return lines;
  }();
  return entries;
}

// A scratch folder in memory-backed storage when there is some, so the
// write's fsync costs little; removed when the fuzzer exits.
struct ScratchDir {
  ScratchDir() {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    path = base / ("override_fuzzer." + std::to_string(::getpid()));
    fs::create_directories(path);
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  fs::path path;
};

fs::path ScratchFile() {
  static const ScratchDir dir;
  return dir.path / "cert_override.txt";
}

std::string ReadBack(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

void CheckUpdate(const std::string& content) {
  const auto updated = vorlink::AddMissingEntries(content, Entries());
  std::string expected_tail;
  for (const auto& entry : Entries()) {
    if (content.find(entry) == std::string::npos) expected_tail += entry + "\r\n";
  }
  if (!updated) {
    Check(expected_tail.empty());
    return;
  }
  const std::string separator = !content.empty() && content.back() != '\n' ? "\r\n" : "";
  Check(*updated == content + separator + expected_tail);
  Check(!vorlink::AddMissingEntries(*updated, Entries()));
  Check(vorlink::WriteFileAtomically(ScratchFile(), *updated) == updated->size());
  Check(ReadBack(ScratchFile()) == *updated);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckUpdate(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
