#pragma once
// The dialogs of the agent's host-services table, used safely: the table
// may be missing (no desktop) or older and shorter than this component's
// header, so each member is used only when the table's `size` covers it.

#include <optional>
#include <string>
#include <vector>

#include "vorlink_component.h"

namespace p11crypto {

// The chosen folder; nullopt when cancelled or when the host offers no
// folder dialog.
std::optional<std::string> AskForFolder(const vorlink_host_services* host, const std::string& title);

// The chosen files (at least one); nullopt as above.
std::optional<std::vector<std::string>> AskForFiles(const vorlink_host_services* host, const std::string& title);

// The "please wait" window; nothing happens when the host has none.
void BeginWait(const vorlink_host_services* host, const std::string& message);
void SetWaitMessage(const vorlink_host_services* host, const std::string& message);
void EndWait(const vorlink_host_services* host);

}  // namespace p11crypto
