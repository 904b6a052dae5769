#include "host/tray_tooltip.h"

#include "request/messages.h"
#include "text/text_codec.h"

namespace vorlink {

std::string TrayTooltip() { return "NESTO Zanthe - 版本 : " + EncodeUtf8(messages::kAgentVersion); }

}  // namespace vorlink
