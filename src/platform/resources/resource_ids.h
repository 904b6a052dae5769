#pragma once
// Names of the program's embedded resources: (type, id) pairs.

#include <string_view>

namespace vorlink::platform {

inline constexpr std::string_view kLocalhostResourceType = "LOCALHOST";
// The DER server certificate earlier versions served (their shared one);
// the manifest verification key is its SHA-256. It is no longer served.
inline constexpr int kIdrLocalCert = 311;

}  // namespace vorlink::platform

namespace vorlink::platform {

inline constexpr std::string_view kIconResourceType = "ICON";
inline constexpr int kIdiAgentIcon = 327;  // SVG, rendered at the sizes the desktop asks for

}  // namespace vorlink::platform

namespace vorlink::platform {

inline constexpr std::string_view kManifestKeyResourceType = "MANIFESTKEY";
inline constexpr int kIdrManifestKey = 400;  // PEM public key that opens Vorlink.ini

// The authority (PEM) that issued certificate 311, which earlier versions
// imported into every browser as "ORVA_SSLCA": recognised, and removed.
inline constexpr std::string_view kRetiredCaResourceType = "RETIREDCA";
inline constexpr int kIdrRetiredCa = 410;

}  // namespace vorlink::platform
