// The component's C entry points: creates instances of the one class this
// library serves, converts values at the boundary and turns any failure
// inside a member into an exception record instead of letting it escape.

#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

#include "p11crypto/component_state.h"
#include "p11crypto/members/member_registry.h"
#include "p11crypto/text/utf16.h"
#include "vorlink_component.h"

namespace p11crypto {
namespace {

// {9b1e4c27-6a3d-4f58-b0c2-7e5d8a913f46}
constexpr std::uint8_t kClsid[16] = {0x9b, 0x1e, 0x4c, 0x27, 0x6a, 0x3d, 0x4f, 0x58,
                                     0xb0, 0xc2, 0x7e, 0x5d, 0x8a, 0x91, 0x3f, 0x46};

std::uint16_t* CopyText(const std::string& utf8, size_t& length) {
  const std::u16string text = Utf8ToUtf16(utf8);
  length = text.size();
  auto* copy = static_cast<std::uint16_t*>(std::malloc((text.size() + 1) * sizeof(std::uint16_t)));
  if (!copy) throw std::bad_alloc();
  std::memcpy(copy, text.data(), text.size() * sizeof(std::uint16_t));
  copy[text.size()] = 0;
  return copy;
}

Value FromVariant(const vorlink_variant& v) {
  switch (v.type) {
    case VORLINK_VT_BSTR: return Value::Text(Utf16ToUtf8(v.text, v.text ? v.text_length : 0));
    case VORLINK_VT_R8: return Value::Real(v.real);
    case VORLINK_VT_UI4: return Value::Unsigned(static_cast<std::uint32_t>(v.integer));
    default: return Value::Int(static_cast<std::int32_t>(v.integer));
  }
}

void ToVariant(const Value& value, vorlink_variant& out) {
  out = {};
  switch (value.kind) {
    case Value::Kind::kText:
      out.type = VORLINK_VT_BSTR;
      out.text = CopyText(value.text, out.text_length);
      break;
    case Value::Kind::kReal:
      out.type = VORLINK_VT_R8;
      out.real = value.real;
      break;
    case Value::Kind::kUnsigned:
      out.type = VORLINK_VT_UI4;
      out.integer = value.integer;
      break;
    case Value::Kind::kInt:
      out.type = VORLINK_VT_I4;
      out.integer = value.integer;
      break;
  }
}

int32_t CreateInstance(const std::uint8_t clsid[16], const vorlink_host_services* host, void** instance) {
  if (!instance || !clsid || std::memcmp(clsid, kClsid, sizeof(kClsid)) != 0) return VORLINK_E_FAIL;
  *instance = new (std::nothrow) ComponentState(host);
  return *instance ? VORLINK_S_OK : VORLINK_E_FAIL;
}

int32_t Invoke(void* instance, int32_t dispid, int32_t, const vorlink_variant* args, size_t arg_count,
               vorlink_variant* result, vorlink_exception* exception) {
  const auto& members = AllMembers();
  const auto member = members.find(dispid);
  if (member == members.end()) return VORLINK_E_MEMBER_NOT_FOUND;
  try {
    std::vector<Value> values;
    for (size_t i = 0; i < arg_count; ++i) values.push_back(FromVariant(args[i]));
    ToVariant(member->second(*static_cast<ComponentState*>(instance), Args(std::move(values))), *result);
    return VORLINK_S_OK;
  } catch (const std::exception& failure) {
    exception->code = VORLINK_E_FAIL;
    try {
      exception->description = CopyText(failure.what(), exception->description_length);
    } catch (...) {
    }
    return VORLINK_E_EXCEPTION;
  }
}

void FreeString(std::uint16_t* text) { std::free(text); }

void ReleaseInstance(void* instance) { delete static_cast<ComponentState*>(instance); }

constexpr vorlink_component_api kApi = {
    VORLINK_COMPONENT_ABI_VERSION, sizeof(vorlink_component_api), CreateInstance, Invoke, FreeString, ReleaseInstance};

}  // namespace
}  // namespace p11crypto

extern "C" __attribute__((visibility("default"))) const vorlink_component_api* vorlink_get_component_api(void) {
  return &p11crypto::kApi;
}
