#include "component/runtime/linux/component_api.h"

#include <dlfcn.h>

namespace vorlink {
namespace {

std::u16string TakeText(const vorlink_component_api& api, uint16_t* text, size_t length) {
  if (text == nullptr) return {};
  std::u16string copy(reinterpret_cast<const char16_t*>(text), length);
  api.free_string(text);
  return copy;
}

}  // namespace

const vorlink_component_api* LoadComponentApi(const std::filesystem::path& library) {
  // Libraries stay loaded: instances may outlive any one caller, and
  // unloading a module that started threads is unsafe.
  void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return nullptr;
  auto get_api = reinterpret_cast<const vorlink_component_api* (*)()>(::dlsym(handle, "vorlink_get_component_api"));
  const vorlink_component_api* api = get_api ? get_api() : nullptr;
  if (!api || api->abi_version < 1 || api->size < sizeof(vorlink_component_api) || !api->create_instance ||
      !api->invoke || !api->free_string || !api->release_instance) {
    return nullptr;
  }
  return api;
}

Variant InvokeComponent(const vorlink_component_api& api, void* instance, int dispid, CallKind kind,
                        const std::vector<Variant>& args) {
  std::vector<vorlink_variant> in(args.size());
  for (size_t i = 0; i < args.size(); ++i) {
    in[i].type = static_cast<uint16_t>(args[i].type);
    in[i].integer = args[i].integer;
    in[i].real = args[i].real;
    in[i].text = reinterpret_cast<const uint16_t*>(args[i].text.data());
    in[i].text_length = args[i].text.size();
  }
  vorlink_variant out{};
  vorlink_exception exception{};
  const int32_t status =
      api.invoke(instance, dispid, kind == CallKind::kMethod ? VORLINK_CALL_METHOD : VORLINK_CALL_PROPERTY_GET,
                 in.data(), in.size(), &out, &exception);
  if (status != VORLINK_S_OK) {
    ComponentFault fault{TakeText(api, exception.description, exception.description_length)};
    if (out.type == VORLINK_VT_BSTR) TakeText(api, const_cast<uint16_t*>(out.text), out.text_length);
    throw fault;
  }
  Variant result;
  result.type = static_cast<VariantType>(out.type);
  result.integer = out.integer;
  result.real = out.real;
  if (out.type == VORLINK_VT_BSTR) result.text = TakeText(api, const_cast<uint16_t*>(out.text), out.text_length);
  return result;
}

}  // namespace vorlink
