// The dialog members against a fake host-services table: what the chosen
// folders and files allow, cancelled dialogs, the wait window, and hosts
// that offer less (none at all, or an older, shorter table).

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>

#include "component_client.h"
#include "scratch_home.h"

namespace vorlink::test {
namespace {

namespace fs = std::filesystem;

enum Dispid {
  kSaveFile = 44,
  kOpenFile = 45,
  kSelectFolderResult = 35,
  kSelectFolder = 50,
  kSelectFiles = 64,
  kFilesResult = 65,
  kBeginAnimate = 66,
  kEndAnimate = 67,
  kSetMessage = 68
};
constexpr std::int32_t kFileNotAllowed = 0x500A, kFileError = 0x500B, kCancelled = 0x500C;

// Answers the dialogs with set texts and records every call.
struct FakeHost {
  std::optional<std::string> folder, files;  // nullopt: cancelled
  std::vector<std::string> calls;
  int texts_out = 0;  // returned and not yet freed
  vorlink_host_services table{};

  FakeHost() {
    table.size = sizeof(table);
    table.context = this;
    table.select_folder = [](void* c, const char* title) {
      return Self(c).Answer("folder:" + std::string(title), Self(c).folder);
    };
    table.select_files = [](void* c, const char* title) {
      return Self(c).Answer("files:" + std::string(title), Self(c).files);
    };
    table.begin_wait = [](void* c, const char* message) { Self(c).calls.push_back("begin:" + std::string(message)); };
    table.set_wait_message = [](void* c, const char* message) {
      Self(c).calls.push_back("set:" + std::string(message));
    };
    table.end_wait = [](void* c) { Self(c).calls.push_back("end"); };
    table.free_text = [](void* c, char* text) {
      --Self(c).texts_out;
      std::free(text);
    };
  }
  static FakeHost& Self(void* context) { return *static_cast<FakeHost*>(context); }
  char* Answer(std::string call, const std::optional<std::string>& text) {
    calls.push_back(std::move(call));
    if (!text) return nullptr;
    ++texts_out;
    return ::strdup(text->c_str());
  }
};

class DialogMembers : public ::testing::Test {
 protected:
  ScratchHome home_;
  FakeHost host_;
  ComponentClient component_{P11CRYPTO_LIBRARY, &host_.table};
};

TEST_F(DialogMembers, AChosenFolderIsAllowedInThisInstanceOnly) {
  const fs::path chosen = home_.outside() / "chosen";
  fs::create_directory(chosen);
  const std::string inside = (chosen / "a.txt").string();
  EXPECT_EQ(component_.Method(kSaveFile, {inside, std::string("x")}), kFileNotAllowed) << "before the dialog";
  host_.folder = chosen.string();
  ASSERT_EQ(component_.Method(kSelectFolder), 0);
  EXPECT_EQ(host_.calls, std::vector<std::string>{"folder:Please select folder"}) << "a default title";
  EXPECT_EQ(component_.Text(kSelectFolderResult), chosen.string());
  EXPECT_EQ(component_.Method(kSaveFile, {inside, std::string("x")}), 0);
  EXPECT_EQ(component_.Method(kSaveFile, {home_.secret().string(), std::string("x")}), kFileNotAllowed)
      << "the chosen folder's neighbours stay closed";

  ComponentClient other(P11CRYPTO_LIBRARY, &host_.table);
  EXPECT_EQ(other.Method(kOpenFile, {inside, 0}), kFileNotAllowed) << "another instance did not choose it";
  EXPECT_EQ(host_.texts_out, 0) << "every answer released";
}

TEST_F(DialogMembers, ChosenFilesAreAllowedButNotTheirFolder) {
  const fs::path a = home_.outside() / "a.txt", b = home_.outside() / "b.txt";
  ScratchHome::Write(a, "A");
  ScratchHome::Write(b, "B");
  host_.files = a.string() + "\n" + (home_.outside() / "missing.txt").string() + "\n\n" + b.string();
  ASSERT_EQ(component_.Method(kSelectFiles, {std::string("*.txt")}), 0);
  EXPECT_EQ(host_.calls, std::vector<std::string>{"files:*.txt"});
  EXPECT_EQ(component_.Text(kFilesResult), a.string() + "\n" + b.string()) << "only files that exist";
  EXPECT_EQ(component_.Method(kOpenFile, {b.string(), 0}), 0);
  EXPECT_EQ(component_.Method(kSaveFile, {a.string(), std::string("new")}), 0);
  EXPECT_EQ(ReadFileText(a), "new");
  EXPECT_EQ(component_.Method(kOpenFile, {home_.secret().string(), 0}), kFileNotAllowed);
  EXPECT_EQ(component_.Method(kSaveFile, {(home_.outside() / "missing.txt").string(), std::string("x")}),
            kFileNotAllowed);

  host_.files = (home_.outside() / "missing.txt").string();
  EXPECT_EQ(component_.Method(kSelectFiles, {std::string()}), kFileError);
  EXPECT_EQ(host_.calls.back(), "files:Please select files");
  EXPECT_EQ(component_.Text(kFilesResult), "");
  EXPECT_EQ(host_.texts_out, 0);
}

TEST_F(DialogMembers, CancelledDialogsAnswerCancelledAndClearTheirResults) {
  fs::create_directory(home_.outside() / "chosen");
  host_.folder = (home_.outside() / "chosen").string();
  host_.files = home_.secret().string();
  ASSERT_EQ(component_.Method(kSelectFolder), 0);
  ASSERT_EQ(component_.Method(kSelectFiles, {std::string()}), 0);
  host_.folder.reset();
  host_.files.reset();
  EXPECT_EQ(component_.Method(kSelectFolder), kCancelled);
  EXPECT_EQ(component_.Text(kSelectFolderResult), "");
  EXPECT_EQ(component_.Method(kSelectFiles, {std::string()}), kCancelled);
  EXPECT_EQ(component_.Text(kFilesResult), "");
  host_.folder = "relative/folder";
  EXPECT_EQ(component_.Method(kSelectFolder), kFileError) << "a folder that does not exist cannot be allowed";
}

TEST_F(DialogMembers, TheWaitWindowCallsReachTheHost) {
  EXPECT_EQ(component_.Method(kBeginAnimate, {std::string("簽章中，請稍候")}), 0);
  EXPECT_EQ(component_.Method(kSetMessage, {std::string("50%")}), 0);
  EXPECT_EQ(component_.Method(kEndAnimate), 0);
  EXPECT_EQ(host_.calls, (std::vector<std::string>{"begin:簽章中，請稍候", "set:50%", "end"}));

  host_.calls.clear();
  {
    ComponentClient left_open(P11CRYPTO_LIBRARY, &host_.table);
    left_open.Method(kBeginAnimate, {std::string("m")});
  }
  EXPECT_EQ(host_.calls, (std::vector<std::string>{"begin:m", "end"})) << "released with its window open";
}

// Hosts that offer less: no table, or one that ends early. The component
// reads nothing past `size`, and no dialog runs whose answer it could not
// release (free_text is the last member).
TEST(DialogMembersHost, UsesOnlyWhatTheTableOffers) {
  ScratchHome home;
  fs::create_directory(home.outside() / "chosen");
  const auto end_of = [](std::size_t offset) { return static_cast<std::uint32_t>(offset + sizeof(void*)); };
  const struct {
    std::uint32_t size;
    std::int32_t folder_code;
    std::vector<std::string> calls;
  } cases[] = {
      {0, kCancelled, {}},
      {end_of(offsetof(vorlink_host_services, select_folder)), kCancelled, {}},
      {end_of(offsetof(vorlink_host_services, begin_wait)), kCancelled, {"begin:m"}},
      {end_of(offsetof(vorlink_host_services, end_wait)), kCancelled, {"begin:m", "set:m", "end"}},
      {sizeof(vorlink_host_services), 0, {"folder:Please select folder", "begin:m", "set:m", "end"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    FakeHost host;
    host.folder = (home.outside() / "chosen").string();
    host.table.size = c.size;
    ComponentClient component(P11CRYPTO_LIBRARY, &host.table);
    EXPECT_EQ(component.Method(kSelectFolder), c.folder_code);
    component.Method(kBeginAnimate, {std::string("m")});
    component.Method(kSetMessage, {std::string("m")});
    component.Method(kEndAnimate);
    EXPECT_EQ(host.calls, c.calls);
  }
  ComponentClient headless(P11CRYPTO_LIBRARY, nullptr);
  EXPECT_EQ(headless.Method(kSelectFolder), kCancelled);
  EXPECT_EQ(headless.Method(kSelectFiles, {std::string("x")}), kCancelled);
  for (int dispid : {kBeginAnimate, kSetMessage, kEndAnimate}) EXPECT_EQ(headless.Method(dispid), 0) << dispid;
}

}  // namespace
}  // namespace vorlink::test
