#include "request/method_dispatch.h"

#include <algorithm>

#include "component/component_wrapper.h"
#include "component/member_table.h"
#include "log/diagnostic_log.h"
#include "request/answer.h"
#include "request/messages.h"
#include "text/text_codec.h"

namespace vorlink {
namespace {

std::string Answer(VariantType type, std::int32_t status, const Variant& value) {
  switch (type) {
    case VariantType::kI4: return NumberAnswer(status, static_cast<std::int32_t>(value.integer));
    case VariantType::kUI4: return UnsignedAnswer(status, static_cast<std::uint32_t>(value.integer));
    case VariantType::kR8: return SizeAnswer(status, value.real);
    default: return TextAnswer(status, value.text);
  }
}

bool IsAgentMethod(std::u16string_view name) {
  return name == u"GetAgentVersion" || name == u"GetVersion" || name == u"finalizeAgent" || name == u"selectFile";
}

// A name that is no method may be anything a page sent in its place, a PIN
// among them (fields run together with ";" can leave one there): the log
// shows one star per character of it.
std::string Stars(std::u16string_view name) {
  const auto low_surrogates =
      std::count_if(name.begin(), name.end(), [](char16_t u) { return (u & 0xFC00) == 0xDC00; });
  return std::string(name.size() - static_cast<std::size_t>(low_surrogates), '*');
}

}  // namespace

std::string MethodDispatch::Dispatch(ComponentWrapper* wrapper, const ArgumentArray& args) {
  if (wrapper == nullptr) return TextAnswer(kCodeNotRun, messages::kNoDllToken);
  const std::u16string& name = args[0];
  const MemberRow* row = FindMember(name);
  log_.LogDebug("執行 Function", row || IsAgentMethod(name) ? EncodeUtf8Characters(name) : Stars(name));

  if (name == u"GetAgentVersion" || name == u"GetVersion") return TextAnswer(kCodeRan, messages::kAgentVersion);
  if (name == u"finalizeAgent") return NumberAnswer(kCodeNotRun, -1);
  if (name == u"selectFile") return TextAnswer(kCodeRan, files_.SelectFile(args[1]));

  if (row == nullptr) return TextAnswer(kCodeNotRun, messages::kInvalidFunctionName);
  std::int32_t status = kCodeNotRun;
  const Variant value = wrapper->InvokeMember(*row, args, status);
  std::string answer = Answer(row->result, status, value);
  if (status == kCodeRan) wrapper->Touch();
  return answer;
}

}  // namespace vorlink
