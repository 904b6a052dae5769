#pragma once
// Names of the program's embedded resources: (type, id) pairs.

#include <string_view>

namespace vorlink::platform {

inline constexpr std::string_view kLocalhostResourceType = "LOCALHOST";
inline constexpr int kIdrLocalCert = 311;  // DER localhost server certificate
inline constexpr int kIdrLocalKey = 312;   // its DER PKCS#8 private key

}  // namespace vorlink::platform

namespace vorlink::platform {

inline constexpr std::string_view kIconResourceType = "ICON";
inline constexpr int kIdiAgentIcon = 327;  // SVG, rendered at the sizes the desktop asks for

}  // namespace vorlink::platform

namespace vorlink::platform {

inline constexpr std::string_view kManifestKeyResourceType = "MANIFESTKEY";
inline constexpr int kIdrManifestKey = 400;  // PEM public key that opens Vorlink.ini

}  // namespace vorlink::platform
