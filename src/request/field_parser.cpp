#include "request/field_parser.h"

#include "request/answer.h"
#include "request/messages.h"
#include "text/text_codec.h"

namespace vorlink {

int ArgumentSlot(std::string_view key) {
  if (key == "ExecMethod") return 0;
  if (key.size() == 6 && key.starts_with("Param") && key[5] >= '1' && key[5] <= '9') return key[5] - '0';
  return -1;
}

ArgumentArray BuildArgumentArray(const FieldMap& fields, const std::string& dll_token) {
  ArgumentArray args;
  args[0] = DecodeUtf8(dll_token);
  for (const auto& [key, value] : fields) {
    const int slot = ArgumentSlot(key);
    if (slot >= 0) args[static_cast<std::size_t>(slot)] = DecodeUtf8(value);
  }
  return args;
}

std::string FieldParser::Parse(const FieldMap& fields, const PageOrigin& origin) const {
  if (fields.empty()) return {};
  if (const std::string* init = FirstField(fields, "InitDLL")) {
    return init_dll_.HandleInitDll(*init, origin);
  }
  const std::string* token = FirstField(fields, "DLLToken");
  if (token == nullptr) return TextAnswer(kCodeNotRun, messages::kCgiContentError);
  return token_calls_.LookupAndCall(*token, BuildArgumentArray(fields, *token), origin);
}

}  // namespace vorlink
