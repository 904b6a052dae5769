// A crypto component for tests: implements the component ABI, records
// every call, answers from a script per DISPID, and can fail on purpose.
// Tests drive it through the test_component_* functions below.

#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "vorlink_component.h"

namespace {

struct Script {
  std::mutex mutex;
  std::map<int32_t, vorlink_variant> results;
  std::map<int32_t, std::u16string> texts;
  std::map<int32_t, bool> failing;
  std::string journal;
  int instances = 0;
};

Script& State() {
  static Script script;
  return script;
}

uint16_t* CopyText(const std::u16string& text) {
  auto* copy = new uint16_t[text.size() + 1];
  std::memcpy(copy, text.data(), text.size() * sizeof(uint16_t));
  copy[text.size()] = 0;
  return copy;
}

std::string Narrow(const uint16_t* text, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
  return out;
}

int32_t Create(const uint8_t*, const vorlink_host_services*, void** instance) {
  std::lock_guard lock(State().mutex);
  *instance = new int(++State().instances);
  return VORLINK_S_OK;
}

int32_t Invoke(void*, int32_t dispid, int32_t kind, const vorlink_variant* args, size_t count, vorlink_variant* result,
               vorlink_exception* exception) {
  Script& s = State();
  std::lock_guard lock(s.mutex);
  std::string line = std::to_string(dispid) + (kind == VORLINK_CALL_METHOD ? " method" : " get");
  for (size_t i = 0; i < count; ++i) {
    if (args[i].type == VORLINK_VT_BSTR) {
      line += " T:" + Narrow(args[i].text, args[i].text_length);
    } else {
      line += " I:" + std::to_string(args[i].integer);
    }
  }
  s.journal += line + "\n";
  if (s.failing[dispid]) {
    exception->code = 1;
    exception->description = CopyText(u"scripted failure");
    exception->description_length = 16;
    return VORLINK_E_EXCEPTION;
  }
  auto it = s.results.find(dispid);
  *result = it != s.results.end() ? it->second : vorlink_variant{VORLINK_VT_I4, 0, 0, nullptr, 0};
  if (result->type == VORLINK_VT_BSTR) {
    const std::u16string& text = s.texts[dispid];
    result->text = CopyText(text);
    result->text_length = text.size();
  }
  return VORLINK_S_OK;
}

void FreeString(uint16_t* text) { delete[] text; }
void Release(void* instance) { delete static_cast<int*>(instance); }

const vorlink_component_api kApi = {VORLINK_COMPONENT_ABI_VERSION, sizeof(vorlink_component_api), Create, Invoke,
                                    FreeString, Release};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) const vorlink_component_api* vorlink_get_component_api(void) { return &kApi; }

__attribute__((visibility("default"))) void test_component_set_number(int32_t dispid, uint16_t type, double value) {
  std::lock_guard lock(State().mutex);
  vorlink_variant v{type, static_cast<int64_t>(value), value, nullptr, 0};
  State().results[dispid] = v;
}

__attribute__((visibility("default"))) void test_component_set_text(int32_t dispid, const char16_t* text, size_t n) {
  std::lock_guard lock(State().mutex);
  State().results[dispid] = vorlink_variant{VORLINK_VT_BSTR, 0, 0, nullptr, 0};
  State().texts[dispid] = std::u16string(text, n);
}

__attribute__((visibility("default"))) void test_component_set_failing(int32_t dispid, int failing) {
  std::lock_guard lock(State().mutex);
  State().failing[dispid] = failing != 0;
}

// Copies the journal (one line per call) into buf; returns its full length.
__attribute__((visibility("default"))) size_t test_component_journal(char* buf, size_t capacity) {
  std::lock_guard lock(State().mutex);
  const std::string& j = State().journal;
  if (buf && capacity) {
    const size_t n = j.size() < capacity - 1 ? j.size() : capacity - 1;
    std::memcpy(buf, j.data(), n);
    buf[n] = 0;
  }
  return j.size();
}

}  // extern "C"
