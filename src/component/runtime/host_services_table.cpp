#include "component/runtime/host_services_table.h"

#include <cstdlib>
#include <cstring>

namespace vorlink {
namespace {

ComponentHostServices& Services(void* context) {
  static NoDesktopHostServices no_desktop;
  return context ? *static_cast<ComponentHostServices*>(context) : no_desktop;
}

std::string Text(const char* text) { return text ? text : ""; }

char* CopyOut(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// Components are called from the agent's C++ code; no exception may cross
// back into them.
char* SelectFolder(void* context, const char* title) {
  try {
    const auto folder = Services(context).SelectFolder(Text(title));
    return folder ? CopyOut(*folder) : nullptr;
  } catch (...) {
    return nullptr;
  }
}

char* SelectFiles(void* context, const char* title) {
  try {
    const auto files = Services(context).SelectFiles(Text(title));
    if (!files || files->empty()) return nullptr;
    std::string joined;
    for (const std::string& file : *files) joined += (joined.empty() ? "" : "\n") + file;
    return CopyOut(joined);
  } catch (...) {
    return nullptr;
  }
}

void BeginWait(void* context, const char* message) {
  try {
    Services(context).BeginWait(Text(message));
  } catch (...) {
  }
}

void SetWaitMessage(void* context, const char* message) {
  try {
    Services(context).SetWaitMessage(Text(message));
  } catch (...) {
  }
}

void EndWait(void* context) {
  try {
    Services(context).EndWait();
  } catch (...) {
  }
}

void FreeText(void*, char* text) { std::free(text); }

}  // namespace

vorlink_host_services MakeHostServicesTable(ComponentHostServices* services) {
  vorlink_host_services table{};
  table.size = sizeof(vorlink_host_services);
  table.context = services;
  table.select_folder = SelectFolder;
  table.select_files = SelectFiles;
  table.begin_wait = BeginWait;
  table.set_wait_message = SetWaitMessage;
  table.end_wait = EndWait;
  table.free_text = FreeText;
  return table;
}

}  // namespace vorlink
