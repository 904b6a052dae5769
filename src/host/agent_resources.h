#pragma once
// The files compiled into the agent as the host reads them: certificate
// 311 (the source of the manifest verification key), with the ERROR line
// each failure writes, and the manifest key.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/resources/resource_source.h"

namespace vorlink {

class DiagnosticLog;

// The resources compiled into this program.
const platform::ResourceSource& EmbeddedResources();

// The manifest key's PEM text; empty when missing.
std::string LoadManifestKey(const platform::ResourceSource& resources);

// Resource `id` of the LOCALHOST type into `out`. On failure writes
// "資源檔(<name>)不存在 !" or "載入資源檔(<name>)失敗 !" and returns false.
bool LoadLocalhostResource(DiagnosticLog& log, const platform::ResourceSource& resources, int id, const char* name,
                           std::vector<std::uint8_t>& out);

}  // namespace vorlink
