// The DllToken table, method dispatch and the component wrapper, with a
// component that records its calls.

#include <atomic>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <thread>

#include "component/component_wrapper.h"
#include "log/diagnostic_log.h"
#include "request/answer.h"
#include "request/dll_token_table.h"
#include "request/messages.h"
#include "text/text_codec.h"

namespace vorlink {
namespace {

struct Call {
  int dispid;
  CallKind kind;
  std::vector<Variant> args;
};

// Records calls into a shared journal; answers from a script per DISPID.
struct FakeComponent : ComponentInstance {
  struct Journal {
    std::mutex mutex;
    std::vector<Call> calls;
    std::vector<std::string> events;
    std::map<int, Variant> results;
    std::set<int> failing;
  };
  explicit FakeComponent(std::shared_ptr<Journal> j) : journal(std::move(j)) {}
  ~FakeComponent() override {
    std::lock_guard lock(journal->mutex);
    journal->events.push_back("released");
  }
  Variant Invoke(int dispid, CallKind kind, const std::vector<Variant>& args) override {
    std::lock_guard lock(journal->mutex);
    journal->calls.push_back({dispid, kind, args});
    journal->events.push_back("call " + std::to_string(dispid));
    if (journal->failing.count(dispid)) throw ComponentFault{u"failed"};
    auto it = journal->results.find(dispid);
    return it != journal->results.end() ? it->second : Variant::I4(0);
  }
  std::shared_ptr<Journal> journal;
};

struct Lines : LogViewerSink {
  void AddLogLine(std::string_view t) override {
    const std::string s(t);
    lines.push_back(s.substr(s.find(" - ") + 3));
  }
  std::vector<std::string> lines;
};

class TokenTableTest : public ::testing::Test {
 protected:
  void SetUp() override { log_.SetViewer(&lines_); }

  std::shared_ptr<ComponentWrapper> Wrapper(std::int32_t timeout = 600, std::int32_t kind = kKindPkcs11) {
    auto w = std::make_shared<ComponentWrapper>([this] { return now_.load(); }, kind);
    w->SetInstance(std::make_unique<FakeComponent>(journal_), timeout);
    return w;
  }
  std::string Call(const std::string& token, std::u16string method, std::vector<std::u16string> params = {}) {
    ArgumentArray args;
    args[0] = std::move(method);
    for (std::size_t i = 0; i < params.size(); ++i) args[i + 1] = params[i];
    return table_.LookupAndCall(token, args, std::nullopt);
  }
  std::vector<std::string> TakeLines() { return std::exchange(lines_.lines, {}); }

  std::atomic<std::uint32_t> now_{1000};
  std::shared_ptr<FakeComponent::Journal> journal_ = std::make_shared<FakeComponent::Journal>();
  DiagnosticLog log_;
  Lines lines_;
  CancelledFileSelection files_;
  MethodDispatch dispatch_{log_, files_};
  DllTokenTable table_{log_, dispatch_};
};

TEST_F(TokenTableTest, LookupErrors) {
  const std::string not_named = TextAnswer(-1, messages::kNoDllToken);
  const std::string not_found = TextAnswer(-1, messages::kDllTokenNotFound);
  EXPECT_EQ(Call("5", u"GetVersion"), not_found) << "an empty table";
  table_.AppendWithToken(Wrapper(), 77);
  const std::pair<std::string, std::string> cases[] = {
      {"", not_named},
      {"0", not_named},
      {"abc", not_named},
      {"-77", not_found},
      {"78", not_found},
      {"77abc", "||0||4.5.23.1||"},
      {" 77", "||0||4.5.23.1||"},
      {"99999999999", not_found},
  };
  for (const auto& [token, answer] : cases) EXPECT_EQ(Call(token, u"GetVersion"), answer) << token;
}

// A token answers only pages of the origin that created it; to any other
// it is a token that does not exist: same answer, no log line, no call.
TEST_F(TokenTableTest, ATokenAnswersOnlyItsOwnOrigin) {
  const std::string found = "||0||0||";
  const std::string not_found = TextAnswer(-1, messages::kDllTokenNotFound);
  auto a = Wrapper();
  table_.AppendWithToken(a, 1, "https://a.example");
  table_.AppendWithToken(Wrapper(), 2);  // created without an Origin
  table_.AppendWithToken(Wrapper(), 3, "");
  const struct {
    std::string token;
    PageOrigin origin;
    std::string answer;
  } cases[] = {
      {"1", "https://a.example", found},
      {"1", "https://b.example", not_found},
      {"1", std::nullopt, not_found},
      {"1", "", not_found},
      {"1", "https://a.example/", not_found},
      {"1", "HTTPS://A.EXAMPLE", not_found},
      {"1", "https://a.example:443", not_found},
      {"2", std::nullopt, found},
      {"2", "", not_found},
      {"2", "null", not_found},
      {"3", "", found},
      {"3", std::nullopt, not_found},
  };
  for (const auto& c : cases) {
    ArgumentArray args;
    args[0] = u"Login";
    args[1] = u"1234";
    TakeLines();
    const std::size_t calls = journal_->calls.size();
    EXPECT_EQ(table_.LookupAndCall(c.token, args, c.origin), c.answer) << c.token << " " << c.origin.value_or("(none)");
    if (c.answer == not_found) {
      EXPECT_TRUE(TakeLines().empty()) << "the same silence as a missing token";
      EXPECT_EQ(journal_->calls.size(), calls) << "the component is not reached";
    }
  }
  now_ = 9000;
  table_.LookupAndCall("1", ArgumentArray{u"Login"}, "https://b.example");
  EXPECT_EQ(a->last_use(), 1000u) << "a foreign page does not keep the component alive";
}

TEST_F(TokenTableTest, OnlyPkcs11ComponentsAreCalled) {
  table_.AppendWithToken(Wrapper(600, kKindCapi), 12);
  EXPECT_EQ(Call("12", u"GetVersion"), "");
}

TEST_F(TokenTableTest, AppendDrawsDistinctNonZeroTokens) {
  std::set<std::int32_t> tokens;
  for (int i = 0; i < 200; ++i) {
    const auto token = table_.Append(Wrapper(), std::nullopt);
    EXPECT_GT(token, 0);
    EXPECT_LE(token, 16777215);
    tokens.insert(token);
  }
  EXPECT_EQ(tokens.size(), 200u);
}

TEST_F(TokenTableTest, DispatchForwardsByDispidWithTypedArguments) {
  table_.AppendWithToken(Wrapper(), 9);
  journal_->results[8] = Variant::Bstr(std::u16string(u"sig\0tail", 8));
  journal_->results[92] = Variant::I4(-1);  // converted to unsigned: fails
  journal_->results[46] = Variant::R8(-1.9);
  journal_->results[5] = Variant::I4(-7);

  EXPECT_EQ(Call("9", u"Login", {std::u16string(u"12\0 34", 6)}), "||0||-7||");
  EXPECT_EQ(journal_->calls.back().dispid, 5);
  EXPECT_EQ(journal_->calls.back().args[0].text, u"12") << "text arguments end at a NUL";

  EXPECT_EQ(Call("9", u"get_getSignature"), "||0||sig||");
  EXPECT_EQ(journal_->calls.back().kind, CallKind::kPropertyGet);
  EXPECT_EQ(Call("9", u"get_getFileSize"), "||0||-1||");

  const std::pair<std::u16string, std::int64_t> integers[] = {
      {u"letters", 0}, {u"", 0}, {u" 12abc", 12}, {u"99999999999", 2147483647}, {u"-99999999999", -2147483648LL},
      {u"-5", -5}};
  for (const auto& [text, value] : integers) {
    Call("9", u"PKCS7Sign", {u"data", text, u""});
    ASSERT_EQ(journal_->calls.back().args.size(), 3u);
    EXPECT_EQ(journal_->calls.back().args[1].integer, value) << EncodeUtf8(text);
    EXPECT_EQ(journal_->calls.back().args[2].integer, 0);
  }
  journal_->results[92] = Variant::UI4(4294967295u);
  EXPECT_EQ(Call("9", u"getTempFree"), "||0||4294967295||");
}

TEST_F(TokenTableTest, LocalNamesAndUnknownNames) {
  table_.AppendWithToken(Wrapper(), 9);
  EXPECT_EQ(Call("9", u"getversion"), TextAnswer(-1, messages::kInvalidFunctionName));
  ArgumentArray no_method;
  no_method[0].push_back(u'9');  // DLLToken with no ExecMethod
  EXPECT_EQ(table_.LookupAndCall("9", no_method, std::nullopt), TextAnswer(-1, messages::kInvalidFunctionName));
  EXPECT_EQ(Call("9", u"finalizeAgent"), "||-1||-1||");
  EXPECT_EQ(Call("9", u"selectFile", {u""}), "||0||||");
  EXPECT_EQ(Call("9", u"GetVersion"), "||0||4.5.23.1||") << "the token stays usable";
  EXPECT_TRUE(journal_->calls.empty()) << "local names never reach the component";
}

TEST_F(TokenTableTest, OnlyASuccessfulForwardedCallMovesTheLastUseTick) {
  auto w = Wrapper();
  table_.AppendWithToken(w, 9);
  now_ = 5000;
  Call("9", u"GetVersion");
  EXPECT_EQ(w->last_use(), 1000u);
  journal_->failing.insert(5);
  EXPECT_THROW(Call("9", u"Login", {u"1234"}), ComponentFault);
  EXPECT_EQ(w->last_use(), 1000u);
  journal_->failing.clear();
  EXPECT_EQ(Call("9", u"Login", {u"1234"}), "||0||0||") << "the token stays usable after a failure";
  EXPECT_EQ(w->last_use(), 5000u);
}

TEST_F(TokenTableTest, SweepExpiresAfterTheTimeoutAndNotAMillisecondBefore) {
  table_.AppendWithToken(Wrapper(600), 1);
  table_.AppendWithToken(Wrapper(0), 2);  // never expires
  now_ = 1000 + 600u * 60000;
  TakeLines();
  table_.Sweep();
  EXPECT_EQ(TakeLines(),
            (std::vector<std::string>{"子程式為 PKCS11 元件", "子程式的 tokenId = (int)2",
                                      "子程式的逾時設定(分鐘) = (int)0", "子程式的停用時間(秒) = (int)36000",
                                      "判斷這個子程式尚未逾期", "子程式為 PKCS11 元件", "子程式的 tokenId = (int)1",
                                      "子程式的逾時設定(分鐘) = (int)600", "子程式的停用時間(秒) = (int)36000",
                                      "判斷這個子程式尚未逾期", "執行中子程式數量 = (int)2"}));
  now_ = now_ + 1;
  table_.Sweep();
  const auto lines = TakeLines();
  const std::vector<std::string> expired(lines.begin() + 9, lines.end());
  EXPECT_EQ(expired,
            (std::vector<std::string>{"判斷這個子程式已經逾期, 元件強制進行結束", "強制 Logout() = (int)0",
                                      "NestoVorlink45(1) 服務子程式已逾時, 結束服務", "執行中子程式數量 = (int)2"}));
  EXPECT_EQ(journal_->events, (std::vector<std::string>{"call 6", "released"})) << "Logout once, then release";
  EXPECT_EQ(Call("1", u"GetVersion"), TextAnswer(-1, messages::kDllTokenNotFound));
  table_.Sweep();
  EXPECT_EQ(TakeLines().back(), "執行中子程式數量 = (int)1");
}

TEST_F(TokenTableTest, IdleTimeIsModularAcrossTheTickWrap) {
  now_ = 0xFFFFFF00u;
  table_.AppendWithToken(Wrapper(1), 1);
  now_ = 0x100;  // 512 ms later, after the wrap
  TakeLines();
  table_.Sweep();
  const auto lines = TakeLines();
  EXPECT_EQ(lines[3], "子程式的停用時間(秒) = (int)0");
  EXPECT_EQ(lines[4], "判斷這個子程式尚未逾期");
}

TEST_F(TokenTableTest, TheExpiredSlotStaysUntilTheNextSweep) {
  for (int t = 1; t <= 5; ++t) table_.AppendWithToken(Wrapper(t == 4 ? 1 : 600), t);  // index 3 holds token 4
  now_ = 1000 + 60001;
  TakeLines();
  table_.Sweep();
  EXPECT_EQ(TakeLines().back(), "執行中子程式數量 = (int)5");
  EXPECT_EQ(table_.size(), 5u);
  table_.Sweep();
  const auto lines = TakeLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "判斷子程式早已結束"), lines.end());
  EXPECT_EQ(lines.back(), "執行中子程式數量 = (int)4");
  EXPECT_EQ(table_.size(), 4u);
}

TEST_F(TokenTableTest, ReleaseAllLogsEachKindAndLogsOutOnce) {
  table_.ReleaseAll();
  EXPECT_TRUE(TakeLines().empty()) << "an empty table writes nothing";
  table_.AppendWithToken(Wrapper(), 1);
  table_.AppendWithToken(Wrapper(600, kKindCapi), 2);
  table_.AppendWithToken(Wrapper(600, kKindCard), 3);
  table_.ReleaseAll();
  EXPECT_EQ(TakeLines(),
            (std::vector<std::string>{
                "中介程式即將結束, 強制結束 PKCS11 元件, tokenId = (int)1", "強制 Logout() = (int)0",
                "中介程式即將結束, 強制結束 CAPI 元件, tokenId = (int)2",
                "中介程式即將結束, 強制結束 CARD 元件, tokenId = (int)3", "所有子程式已經全部結束, 數量 = (int)3"}));
  EXPECT_EQ(journal_->events, (std::vector<std::string>{"call 6", "released", "released", "released"}));
  EXPECT_EQ(table_.size(), 0u);
}

// Calls on several tokens from many threads while the sweep runs and one
// token expires: nothing is lost, nothing is used after it was discarded.
TEST_F(TokenTableTest, ConcurrentCallsAndSweeps) {
  log_.SetViewer(nullptr);
  for (int t = 1; t <= 4; ++t) table_.AppendWithToken(Wrapper(t == 4 ? 1 : 600), t);
  std::atomic<int> answered{0}, gone{0};
  std::vector<std::thread> callers;
  for (int i = 0; i < 16; ++i) {
    callers.emplace_back([&, i] {
      const std::string token = std::to_string(i % 4 + 1);
      for (int k = 0; k < 200; ++k) {
        const std::string a = Call(token, u"Login", {u"1"});
        if (a == "||0||0||") {
          ++answered;
        } else if (a == TextAnswer(-1, messages::kDllTokenNotFound) || a == "||-1||-1||") {
          ++gone;  // token 4 expired meanwhile
        } else {
          ADD_FAILURE() << a;
        }
      }
    });
  }
  for (int s = 0; s < 50; ++s) {
    if (s == 10) now_ = now_ + 120000;  // token 4 becomes idle past its minute
    table_.Sweep();
  }
  for (auto& t : callers) t.join();
  EXPECT_EQ(answered + gone, 16 * 200);
  EXPECT_GE(answered, 12 * 200);
}

}  // namespace
}  // namespace vorlink
