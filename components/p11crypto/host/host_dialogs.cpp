#include "p11crypto/host/host_dialogs.h"

#include <algorithm>
#include <cstddef>

namespace p11crypto {
namespace {

// A member of the table, or null when the table is missing, too short to
// hold it (an older agent) or leaves it unset. Nothing past `size` is read.
template <typename Function>
Function MemberOf(const vorlink_host_services* host, Function vorlink_host_services::*member) {
  if (!host) return nullptr;
  const auto* field = &(host->*member);
  const auto end =
      static_cast<std::size_t>(reinterpret_cast<const char*>(field + 1) - reinterpret_cast<const char*>(host));
  return host->size >= end ? host->*member : nullptr;
}

// A text the host returned, taken over and released through the host.
std::optional<std::string> TakeText(const vorlink_host_services* host, char* text) {
  if (!text) return std::nullopt;
  std::string copy(text);
  host->free_text(host->context, text);
  return copy;
}

// A dialog's answer is text to release: without free_text no dialog is used.
template <typename Function>
Function DialogOf(const vorlink_host_services* host, Function vorlink_host_services::*member) {
  return MemberOf(host, &vorlink_host_services::free_text) ? MemberOf(host, member) : nullptr;
}

}  // namespace

std::optional<std::string> AskForFolder(const vorlink_host_services* host, const std::string& title) {
  const auto select_folder = DialogOf(host, &vorlink_host_services::select_folder);
  if (!select_folder) return std::nullopt;
  auto folder = TakeText(host, select_folder(host->context, title.c_str()));
  return folder && !folder->empty() ? folder : std::nullopt;
}

std::optional<std::vector<std::string>> AskForFiles(const vorlink_host_services* host, const std::string& title) {
  const auto select_files = DialogOf(host, &vorlink_host_services::select_files);
  if (!select_files) return std::nullopt;
  const auto joined = TakeText(host, select_files(host->context, title.c_str()));
  if (!joined) return std::nullopt;
  std::vector<std::string> files;
  for (std::size_t start = 0; start <= joined->size();) {
    const std::size_t end = std::min(joined->find('\n', start), joined->size());
    if (end > start) files.push_back(joined->substr(start, end - start));
    start = end + 1;
  }
  if (files.empty()) return std::nullopt;
  return files;
}

void BeginWait(const vorlink_host_services* host, const std::string& message) {
  if (const auto begin = MemberOf(host, &vorlink_host_services::begin_wait)) begin(host->context, message.c_str());
}

void SetWaitMessage(const vorlink_host_services* host, const std::string& message) {
  if (const auto set = MemberOf(host, &vorlink_host_services::set_wait_message)) set(host->context, message.c_str());
}

void EndWait(const vorlink_host_services* host) {
  if (const auto end = MemberOf(host, &vorlink_host_services::end_wait)) end(host->context);
}

}  // namespace p11crypto
