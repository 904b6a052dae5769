// Dialogs the agent shows for the component: SelectFolder and SelectFiles
// (whose answers the file members may then use, in this instance only) and
// the "please wait" window of BeginAnimate, SetMessage and EndAnimate.

#include "p11crypto/host/host_dialogs.h"
#include "p11crypto/members/member_registry.h"
#include "p11crypto/members/member_support.h"

namespace p11crypto {
namespace {

enum Dispid { kSelectFolderResult = 35, kFilesResult = 65 };

constexpr const char* kFolderTitle = "Please select folder";
constexpr const char* kFilesTitle = "Please select files";

std::int32_t SelectFolder(ComponentState& state) {
  state.SetResult(kSelectFolderResult, {});
  const auto folder = AskForFolder(state.host, kFolderTitle);
  if (!folder) return Fail(state, kCancelled, "no folder was chosen");
  if (!state.folders.AllowFolder(*folder))
    return Fail(state, kFileError, "the chosen folder cannot be used: " + *folder);
  state.SetResult(kSelectFolderResult, *folder);
  return Succeed(state);
}

// The files that exist and can be allowed, one per line.
std::int32_t SelectFiles(ComponentState& state, const std::string& title) {
  state.SetResult(kFilesResult, {});
  const auto files = AskForFiles(state.host, title.empty() ? kFilesTitle : title);
  if (!files) return Fail(state, kCancelled, "no file was chosen");
  std::string allowed;
  for (const std::string& file : *files) {
    if (state.folders.AllowFile(file)) allowed += (allowed.empty() ? "" : "\n") + file;
  }
  if (allowed.empty()) return Fail(state, kFileError, "none of the chosen files can be used");
  state.SetResult(kFilesResult, std::move(allowed));
  return Succeed(state);
}

}  // namespace

void AddDialogMembers(MemberRegistry& m) {
  m[50] = [](ComponentState& s, const Args&) { return Code(SelectFolder(s)); };
  m[kSelectFolderResult] = ResultReader(kSelectFolderResult);
  m[64] = [](ComponentState& s, const Args& a) { return Code(SelectFiles(s, a.Text(0))); };
  m[kFilesResult] = ResultReader(kFilesResult);
  m[66] = [](ComponentState& s, const Args& a) {
    BeginWait(s.host, a.Text(0));
    s.waiting = true;
    return Code(Succeed(s));
  };
  m[68] = [](ComponentState& s, const Args& a) {
    SetWaitMessage(s.host, a.Text(0));
    return Code(Succeed(s));
  };
  m[67] = [](ComponentState& s, const Args&) {
    EndWait(s.host);
    s.waiting = false;
    return Code(Succeed(s));
  };
}

}  // namespace p11crypto
