// Components out of process: the test component gives the same answers in
// a component host process as in the agent, its dialogs still reach the
// agent, and a host that crashes fails its own calls and nothing else.

#include <dlfcn.h>
#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

#include "component/runtime/component_runtime.h"
#include "support/child_processes.h"
#include "support/test_paths.h"
#include "vorlink_component.h"

namespace vorlink {
namespace {

constexpr const char* kProgId = "ORVAPkcs11Crypto.ORVA_P11Crypto";

class RecordingServices final : public ComponentHostServices {
 public:
  std::optional<std::string> SelectFolder(const std::string& title) override {
    calls += "folder:" + title + ";";
    return "/home/u/docs";
  }
  std::optional<std::vector<std::string>> SelectFiles(const std::string& title) override {
    calls += "files:" + title + ";";
    return std::vector<std::string>{"/home/u/a.txt", "/home/u/b c.txt"};
  }
  void BeginWait(const std::string& message) override { calls += "begin:" + message + ";"; }
  void SetWaitMessage(const std::string& message) override { calls += "set:" + message + ";"; }
  void EndWait() override { calls += "end;"; }
  std::string calls;
};

// The test component registered in a scratch folder, its script and
// journal kept in files so that a host process shares them.
class ComponentContexts : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    ::setenv("VORLINK_TEST_COMPONENT_STATE", (dir_.path() / "state").c_str(), 1);
    Register(GetParam());
    control_ = ::dlopen(VORLINK_TEST_COMPONENT, RTLD_NOW);
    ASSERT_NE(control_, nullptr);
  }
  void TearDown() override {
    ::dlclose(control_);
    ::unsetenv("VORLINK_TEST_COMPONENT_STATE");
    EXPECT_EQ(test::ZombieChildren(), 0);
  }
  void Register(const std::string& context) {
    std::ofstream(dir_.path() / (std::string(kProgId) + ".component"))
        << "CLSID={3f2a1b4c-5d6e-4f70-8192-a3b4c5d6e7f8}\nLibrary=" << VORLINK_TEST_COMPONENT << "\nContext=" << context
        << "\n";
  }
  template <typename F>
  F Control(const char* name) {
    return reinterpret_cast<F>(::dlsym(control_, name));
  }
  std::string Journal() {
    auto journal = Control<size_t (*)(char*, size_t)>("test_component_journal");
    std::string text(journal(nullptr, 0) + 1, '\0');
    journal(text.data(), text.size());
    text.pop_back();
    return text;
  }
  static Variant Call(ComponentInstance& c, const char16_t* text) {
    return c.Invoke(1, CallKind::kMethod, {Variant::Bstr(text)});
  }

  test::ScratchDir dir_;
  void* control_ = nullptr;
};

INSTANTIATE_TEST_SUITE_P(Both, ComponentContexts, ::testing::Values("InProcess", "LocalServer"));

TEST_P(ComponentContexts, TheSameCallsGiveTheSameAnswers) {
  ComponentRuntime runtime({dir_.path()});
  auto component = runtime.Create(kProgId);
  ASSERT_NE(component, nullptr);
  const std::u16string text{u'M', u'\0', u'\xd83d', u'\xde00', u'\xffff'};
  Control<void (*)(int32_t, const char16_t*, size_t)>("test_component_set_text")(8, text.data(), text.size());
  Control<void (*)(int32_t, uint16_t, double)>("test_component_set_number")(46, VORLINK_VT_R8, 1234.9);
  Control<void (*)(int32_t, uint16_t, double)>("test_component_set_number")(92, VORLINK_VT_UI4, 4294967295.0);
  Control<void (*)(int32_t, int)>("test_component_set_failing")(7, 1);

  EXPECT_EQ(component->Invoke(8, CallKind::kPropertyGet, {}).text, text);
  EXPECT_EQ(component->Invoke(46, CallKind::kPropertyGet, {}).real, 1234.9);
  const Variant big = component->Invoke(92, CallKind::kMethod, {});
  EXPECT_EQ(big.type, VariantType::kUI4);
  EXPECT_EQ(big.integer, 4294967295LL);
  EXPECT_EQ(component->Invoke(5, CallKind::kMethod, {Variant::Bstr(std::u16string(100000, u'x'))}).integer, 0);
  try {
    component->Invoke(7, CallKind::kMethod, {Variant::Bstr(u"data"), Variant::I4(-1), Variant::I4(0)});
    ADD_FAILURE() << "the scripted failure did not fail";
  } catch (const ComponentFault& fault) {
    EXPECT_EQ(fault.description, u"scripted failure");
  }
  EXPECT_EQ(component->Invoke(6, CallKind::kMethod, {}).integer, 0) << "a failed call leaves the instance usable";
  EXPECT_EQ(Journal(), "8 get\n46 get\n92 method\n5 method T:<100000 units>\n7 method T:data I:-1 I:0\n6 method\n");
}

TEST_P(ComponentContexts, DialogsReachTheAgentsHostServices) {
  RecordingServices services;
  ComponentRuntime runtime({dir_.path()}, &services);
  auto component = runtime.Create(kProgId);
  ASSERT_NE(component, nullptr);
  EXPECT_EQ(Call(*component, u"host:folder").text, u"/home/u/docs");
  EXPECT_EQ(Call(*component, u"host:files").text, u"/home/u/a.txt\n/home/u/b c.txt");
  EXPECT_EQ(Call(*component, u"host:wait").text, u"waited");
  EXPECT_EQ(services.calls, "folder:Folder?;files:Files?;begin:Signing;set:Still signing;end;");

  ComponentRuntime headless({dir_.path()});
  auto alone = headless.Create(kProgId);
  ASSERT_NE(alone, nullptr);
  EXPECT_EQ(Call(*alone, u"host:folder").text, u"cancelled");
}

using LocalServer = ComponentContexts;
INSTANTIATE_TEST_SUITE_P(OutOfProcess, LocalServer, ::testing::Values("LocalServer"));

TEST_P(LocalServer, ACrashFailsThatInstanceForGoodAndNoOther) {
  ComponentRuntime runtime({dir_.path()});
  for (const char16_t* crash : {u"crash:abort", u"crash:null"}) {
    auto doomed = runtime.Create(kProgId);
    auto healthy = runtime.Create(kProgId);
    ASSERT_TRUE(doomed && healthy);
    const auto pid = static_cast<pid_t>(Call(*doomed, u"host:pid").integer);
    EXPECT_NE(pid, ::getpid());
    EXPECT_THROW(Call(*doomed, crash), ComponentFault);
    EXPECT_FALSE(test::ProcessExists(pid)) << "reaped at once";
    EXPECT_THROW(Call(*doomed, u"host:pid"), ComponentFault) << "and every later call fails";
    EXPECT_THROW(doomed->Invoke(6, CallKind::kMethod, {}), ComponentFault);
    EXPECT_EQ(healthy->Invoke(6, CallKind::kMethod, {}).integer, 0);
  }
}

TEST_P(LocalServer, AHostKilledFromOutsideFailsTheNextCall) {
  auto component = ComponentRuntime({dir_.path()}).Create(kProgId);
  ASSERT_NE(component, nullptr);
  const auto pid = static_cast<pid_t>(Call(*component, u"host:pid").integer);
  ::kill(pid, SIGKILL);
  EXPECT_THROW(component->Invoke(6, CallKind::kMethod, {}), ComponentFault);
  EXPECT_FALSE(test::ProcessExists(pid));
}

TEST_P(LocalServer, ReleasingTheInstanceEndsItsHostProcess) {
  auto component = ComponentRuntime({dir_.path()}).Create(kProgId);
  ASSERT_NE(component, nullptr);
  const auto pid = static_cast<pid_t>(Call(*component, u"host:pid").integer);
  component.reset();
  EXPECT_FALSE(test::ProcessExists(pid));
}

TEST_P(LocalServer, AnUnknownContextIsNoRegistration) {
  Register("Remote");
  EXPECT_EQ(ComponentRuntime({dir_.path()}).Create(kProgId), nullptr);
}

TEST_P(LocalServer, AHostThatCannotCreateTheInstanceIsACreationFailure) {
  std::ofstream(dir_.path() / (std::string(kProgId) + ".component"))
      << "CLSID={3f2a1b4c-5d6e-4f70-8192-a3b4c5d6e7f8}\nLibrary=libc.so.6\nContext=LocalServer\n";
  EXPECT_EQ(ComponentRuntime({dir_.path()}).Create(kProgId), nullptr);
}

}  // namespace
}  // namespace vorlink
