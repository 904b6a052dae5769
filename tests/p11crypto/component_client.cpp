#include "component_client.h"

#include <dlfcn.h>

#include <gtest/gtest.h>
#include <stdexcept>

namespace vorlink::test {
namespace {

constexpr std::uint8_t kClsid[16] = {0x9b, 0x1e, 0x4c, 0x27, 0x6a, 0x3d, 0x4f, 0x58,
                                     0xb0, 0xc2, 0x7e, 0x5d, 0x8a, 0x91, 0x3f, 0x46};

std::u16string Widen(const std::string& utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    char32_t cp = c;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (extra) cp = c & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
    i += 1 + extra;
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Narrow(const std::uint16_t* text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length) c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

ComponentClient::ComponentClient(const std::string& library, const vorlink_host_services* host) {
  void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) throw std::runtime_error("cannot load " + library);
  auto get_api = reinterpret_cast<const vorlink_component_api* (*)()>(::dlsym(handle, "vorlink_get_component_api"));
  api_ = get_api ? get_api() : nullptr;
  if (!api_ || api_->create_instance(kClsid, host, &instance_) != VORLINK_S_OK) {
    throw std::runtime_error("cannot create the component");
  }
}

ComponentClient::~ComponentClient() {
  if (instance_) api_->release_instance(instance_);
}

CallResult ComponentClient::Call(int dispid, const std::vector<Argument>& args) {
  std::vector<std::u16string> texts(args.size());
  std::vector<vorlink_variant> in(args.size());
  for (size_t i = 0; i < args.size(); ++i) {
    if (const auto* text = std::get_if<std::string>(&args[i])) {
      texts[i] = Widen(*text);
      in[i].type = VORLINK_VT_BSTR;
      in[i].text = reinterpret_cast<const std::uint16_t*>(texts[i].data());
      in[i].text_length = texts[i].size();
    } else {
      in[i].type = VORLINK_VT_I4;
      in[i].integer = std::get<std::int32_t>(args[i]);
    }
  }
  vorlink_variant out{};
  vorlink_exception exception{};
  CallResult result;
  result.status = api_->invoke(instance_, dispid, VORLINK_CALL_METHOD, in.data(), in.size(), &out, &exception);
  if (exception.description) {
    result.text = Narrow(exception.description, exception.description_length);
    api_->free_string(exception.description);
  }
  if (result.status != VORLINK_S_OK) return result;
  result.type = out.type;
  result.integer = out.integer;
  result.real = out.real;
  if (out.type == VORLINK_VT_BSTR) {
    result.text = Narrow(out.text, out.text_length);
    api_->free_string(const_cast<std::uint16_t*>(out.text));
  }
  return result;
}

std::int32_t ComponentClient::Method(int dispid, const std::vector<Argument>& args) {
  const CallResult result = Call(dispid, args);
  EXPECT_EQ(result.status, VORLINK_S_OK) << "dispid " << dispid << ": " << result.text;
  return static_cast<std::int32_t>(result.integer);
}

std::string ComponentClient::Text(int dispid) {
  const CallResult result = Call(dispid);
  EXPECT_EQ(result.status, VORLINK_S_OK) << "dispid " << dispid;
  return result.text;
}

}  // namespace vorlink::test
