#include "request/method_dispatch.h"

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

}  // namespace

std::string MethodDispatch::Dispatch(ComponentWrapper* wrapper, const ArgumentArray& args) {
  if (wrapper == nullptr) return TextAnswer(kCodeNotRun, messages::kNoDllToken);
  const std::u16string& name = args[0];
  log_.LogDebug("執行 Function", EncodeUtf8Characters(name));

  if (name == u"GetAgentVersion" || name == u"GetVersion") return TextAnswer(kCodeRan, messages::kAgentVersion);
  if (name == u"finalizeAgent") return NumberAnswer(kCodeNotRun, -1);
  if (name == u"selectFile") return TextAnswer(kCodeRan, files_.SelectFile(args[1]));

  const MemberRow* row = FindMember(name);
  if (row == nullptr) return TextAnswer(kCodeNotRun, messages::kInvalidFunctionName);
  std::int32_t status = kCodeNotRun;
  const Variant value = wrapper->InvokeMember(*row, args, status);
  std::string answer = Answer(row->result, status, value);
  if (status == kCodeRan) wrapper->Touch();
  return answer;
}

}  // namespace vorlink
