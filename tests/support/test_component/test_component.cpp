// A crypto component for tests: implements the component ABI, records
// every call, answers from a script per DISPID, and can fail on purpose.
// Tests drive it through the test_component_* functions below.
//
// When VORLINK_TEST_COMPONENT_STATE names a file, the script and the
// journal live in files beside that name instead of in memory, so that a
// test can drive a copy running in a component host process.
//
// A first text argument starting with "crash:" or "host:" does something
// else: "crash:abort" and "crash:null" end the process, "host:pid"
// answers the process id, "host:folder" and "host:files" ask the host for
// a dialog and answer what it returned (or "cancelled"), "host:wait" opens,
// updates and closes the wait window.

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
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

const char* StateFile() { return std::getenv("VORLINK_TEST_COMPONENT_STATE"); }

// Script file lines: "<dispid> <type> <value>" for a number, "<dispid> 8
// <hex units>" for a text, "<dispid> F <0|1>" for failing.
void SaveScript(const Script& s) {
  if (!StateFile()) return;
  std::ofstream out(std::string(StateFile()) + ".script", std::ios::trunc);
  for (const auto& [dispid, v] : s.results) {
    out << dispid << ' ' << v.type << ' ';
    if (v.type != VORLINK_VT_BSTR) {
      out.precision(17);
      out << v.real << '\n';
      continue;
    }
    auto text = s.texts.find(dispid);
    out << std::hex;
    if (text != s.texts.end()) {
      for (char16_t unit : text->second) out << static_cast<unsigned>(unit) << ',';
    }
    out << std::dec << "0\n";
  }
  for (const auto& [dispid, failing] : s.failing) out << dispid << " F " << failing << '\n';
}

void LoadScript(Script& s) {
  if (!StateFile()) return;
  s.results.clear();
  s.texts.clear();
  s.failing.clear();
  std::ifstream in(std::string(StateFile()) + ".script");
  int32_t dispid;
  std::string type;
  while (in >> dispid >> type) {
    if (type == "F") {
      in >> s.failing[dispid];
    } else if (std::stoi(type) == VORLINK_VT_BSTR) {
      std::string units;
      in >> units;
      std::u16string text;
      std::stringstream list(units);
      for (std::string unit; std::getline(list, unit, ',');) {
        text += static_cast<char16_t>(std::stoul(unit, nullptr, 16));
      }
      text.pop_back();  // the terminating 0
      s.results[dispid] = vorlink_variant{VORLINK_VT_BSTR, 0, 0, nullptr, 0};
      s.texts[dispid] = text;
    } else {
      double value;
      in >> value;
      s.results[dispid] =
          vorlink_variant{static_cast<uint16_t>(std::stoi(type)), static_cast<int64_t>(value), value, nullptr, 0};
    }
  }
}

void AppendJournal(Script& s, const std::string& line) {
  if (StateFile()) {
    std::ofstream(std::string(StateFile()) + ".journal", std::ios::app) << line;
  } else {
    s.journal += line;
  }
}

std::string ReadJournal(const Script& s) {
  if (!StateFile()) return s.journal;
  std::ifstream in(std::string(StateFile()) + ".journal");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Instance {
  int number;
  const vorlink_host_services* host;
};

void AnswerText(vorlink_variant* result, const std::string& text) {
  const std::u16string wide(text.begin(), text.end());
  *result = vorlink_variant{VORLINK_VT_BSTR, 0, 0, CopyText(wide), wide.size()};
}

void AnswerFromHost(vorlink_variant* result, const vorlink_host_services* host, char* answer) {
  AnswerText(result, answer ? answer : "cancelled");
  if (answer) host->free_text(host->context, answer);
}

// The special first arguments described at the top; false for any other.
bool Special(const Instance& instance, const std::string& command, vorlink_variant* result) {
  const vorlink_host_services* host = instance.host;
  if (command == "crash:abort") std::abort();
  if (command == "crash:null") {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
  }
  if (command == "host:pid") {
    *result = vorlink_variant{VORLINK_VT_I4, ::getpid(), 0, nullptr, 0};
  } else if (command == "host:folder" && host) {
    AnswerFromHost(result, host, host->select_folder(host->context, "Folder?"));
  } else if (command == "host:files" && host) {
    AnswerFromHost(result, host, host->select_files(host->context, "Files?"));
  } else if (command == "host:wait" && host) {
    host->begin_wait(host->context, "Signing");
    host->set_wait_message(host->context, "Still signing");
    host->end_wait(host->context);
    AnswerText(result, "waited");
  } else {
    return false;
  }
  return true;
}

int32_t Create(const uint8_t*, const vorlink_host_services* host, void** instance) {
  std::lock_guard lock(State().mutex);
  *instance = new Instance{++State().instances, host};
  return VORLINK_S_OK;
}

int32_t Invoke(void* instance, int32_t dispid, int32_t kind, const vorlink_variant* args, size_t count,
               vorlink_variant* result, vorlink_exception* exception) {
  if (count > 0 && args[0].type == VORLINK_VT_BSTR && args[0].text_length < 16 &&
      Special(*static_cast<Instance*>(instance), Narrow(args[0].text, args[0].text_length), result)) {
    return VORLINK_S_OK;
  }
  Script& s = State();
  std::lock_guard lock(s.mutex);
  LoadScript(s);
  std::string line = std::to_string(dispid) + (kind == VORLINK_CALL_METHOD ? " method" : " get");
  for (size_t i = 0; i < count; ++i) {
    if (args[i].type == VORLINK_VT_BSTR) {
      // Long texts (benchmarks) are journaled by their length only.
      line += " T:" + (args[i].text_length <= 64 ? Narrow(args[i].text, args[i].text_length)
                                                 : "<" + std::to_string(args[i].text_length) + " units>");
    } else {
      line += " I:" + std::to_string(args[i].integer);
    }
  }
  AppendJournal(s, line + "\n");
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
void Release(void* instance) { delete static_cast<Instance*>(instance); }

const vorlink_component_api kApi = {
    VORLINK_COMPONENT_ABI_VERSION, sizeof(vorlink_component_api), Create, Invoke, FreeString, Release};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) const vorlink_component_api* vorlink_get_component_api(void) { return &kApi; }

__attribute__((visibility("default"))) void test_component_set_number(int32_t dispid, uint16_t type, double value) {
  std::lock_guard lock(State().mutex);
  vorlink_variant v{type, static_cast<int64_t>(value), value, nullptr, 0};
  State().results[dispid] = v;
  SaveScript(State());
}

__attribute__((visibility("default"))) void test_component_set_text(int32_t dispid, const char16_t* text, size_t n) {
  std::lock_guard lock(State().mutex);
  State().results[dispid] = vorlink_variant{VORLINK_VT_BSTR, 0, 0, nullptr, 0};
  State().texts[dispid] = std::u16string(text, n);
  SaveScript(State());
}

__attribute__((visibility("default"))) void test_component_set_failing(int32_t dispid, int failing) {
  std::lock_guard lock(State().mutex);
  State().failing[dispid] = failing != 0;
  SaveScript(State());
}

// Copies the journal (one line per call) into buf; returns its full length.
__attribute__((visibility("default"))) size_t test_component_journal(char* buf, size_t capacity) {
  std::lock_guard lock(State().mutex);
  const std::string j = ReadJournal(State());
  if (buf && capacity) {
    const size_t n = j.size() < capacity - 1 ? j.size() : capacity - 1;
    std::memcpy(buf, j.data(), n);
    buf[n] = 0;
  }
  return j.size();
}

}  // extern "C"
