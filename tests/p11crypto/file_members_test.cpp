// The file members: confinement to the allowed folders, round trips,
// chunked reads, and files that are never left half written.

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <gtest/gtest.h>
#include <memory>

#include "component_client.h"
#include "scratch_home.h"

namespace vorlink::test {
namespace {

namespace fs = std::filesystem;

enum Dispid {
  kErrorMsg = 11,
  kSaveFile = 44,
  kOpenFile = 45,
  kFileSize = 46,
  kFileData = 47,
  kLoadFile = 69,
  kLoadFileData = 70,
  kAppendFile = 71,
  kMoveFile = 72,
  kDeleteFile = 73,
  kAppendFilePath = 80,
  kLoadFileDataSize = 85,
  kAppendDataSize = 86,
  kUserFolder = 87,
  kClearLoadData = 88,
  kTempFree = 92
};
constexpr std::int32_t kBadArgument = 0x5005, kFileNotAllowed = 0x500A, kFileError = 0x500B, kConversionFailed = 0x500E;

std::string AllBytes() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  return bytes;
}

// AllBytes() in Base64.
constexpr const char* kAllBytesBase64 =
    "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJT"
    "VFVWV1hZWltcXV5fYGFiY2RlZmdoaWprbG1ub3BxcnN0dXZ3eHl6e3x9fn+AgYKDhIWGh4iJiouMjY6PkJGSk5SVlpeYmZqbnJ2en6ChoqOkpaan"
    "qKmqq6ytrq+wsbKztLW2t7i5uru8vb6/wMHCw8TFxsfIycrLzM3Oz9DR0tPU1dbX2Nna29zd3t/g4eLj5OXm5+jp6uvs7e7v8PHy8/T19vf4+fr7"
    "/P3+/w==";

class FileMembers : public ::testing::Test {
 protected:
  void SetUp() override {
    component_ = std::make_unique<ComponentClient>(P11CRYPTO_LIBRARY);
    fs::create_directories(home_.working());  // the component makes it on first use; the tests plant links first
  }
  std::int32_t Call(int dispid, const std::vector<Argument>& args = {}) { return component_->Method(dispid, args); }
  std::string Read(int dispid) { return component_->Call(dispid).text; }
  fs::path In(const std::string& name) const { return home_.working() / name; }

  ScratchHome home_;
  std::unique_ptr<ComponentClient> component_;
};

TEST_F(FileMembers, NothingOutsideTheAllowedFoldersIsTouched) {
  fs::create_directory_symlink(home_.outside(), In("to-outside"));
  fs::create_symlink(home_.secret(), In("secret-link"));
  fs::create_symlink(home_.outside() / "planted.txt", In("dangling"));
  ScratchHome::Write(In("inside.txt"), "inside");
  const std::string cases[] = {
      home_.secret().string(),                            // absolute, elsewhere
      "/etc/passwd",                                      //
      "../../outside/secret.txt",                         // relative escapes
      "../stray.txt",                                     // the home folder itself is not allowed
      "to-outside/secret.txt",                            // through a folder link
      "secret-link",                                      // a file link leading out
      "dangling",                                         // a link to a file that does not exist yet
      "to-outside/../../outside/secret.txt",              //
      std::string("..\0x/..\0x/outside/secret.txt", 28),  // a NUL would cut the name before ".."
      home_.working().string(),                           // the folder itself is no file
      ".",
  };
  for (const std::string& path : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Call(kSaveFile, {path, std::string("x")}), kFileNotAllowed);
    EXPECT_FALSE(Read(kErrorMsg).empty());
    EXPECT_EQ(Call(kAppendFile, {path, std::string("x")}), kFileNotAllowed);
    EXPECT_EQ(Call(kOpenFile, {path, 0}), kFileNotAllowed);
    EXPECT_EQ(Read(kFileData), "");
    EXPECT_EQ(Call(kLoadFile, {path, 0, 10}), kFileNotAllowed);
    EXPECT_EQ(Read(kLoadFileData), "");
    EXPECT_EQ(Call(kMoveFile, {path, std::string("moved.txt")}), kFileNotAllowed);
    EXPECT_EQ(Call(kMoveFile, {std::string("inside.txt"), path}), kFileNotAllowed);
    EXPECT_EQ(Call(kDeleteFile, {path}), kFileNotAllowed);
  }
  EXPECT_EQ(ReadFileText(home_.secret()), ScratchHome::kSecret);
  EXPECT_EQ(ReadFileText(In("inside.txt")), "inside");
  EXPECT_FALSE(fs::exists(home_.outside() / "planted.txt"));
  EXPECT_FALSE(fs::exists(home_.home() / "stray.txt"));
  EXPECT_FALSE(fs::exists(In("moved.txt")));
  EXPECT_TRUE(fs::is_symlink(In("secret-link")));
  EXPECT_TRUE(fs::is_directory(home_.working()));
}

TEST_F(FileMembers, SavedDataReadsBackAsTextOrBase64) {
  const struct {
    std::string data;   // as SaveFile gets it
    std::string bytes;  // what lands in the file
    std::int32_t mode;  // for OpenFile
    std::string read;   // what getFileData gives
  } cases[] = {
      {"plain text\r\n", "plain text\r\n", 0, "plain text\r\n"},
      {"中文 ✓ 𝄞", "中文 ✓ 𝄞", 0, "中文 ✓ 𝄞"},
      {"", "", 0, ""},
      {"data:;base64,aGk=", "hi", 0, "hi"},
      {std::string("data:application/octet-stream;base64,") + kAllBytesBase64, AllBytes(), 1, kAllBytesBase64},
      {"data:text/plain;base64,aGk=", "hi", 1, "aGk="},
      {"data:text/plain,not base64", "data:text/plain,not base64", 0, "data:text/plain,not base64"},
      {"data: just words", "data: just words", 0, "data: just words"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.data.substr(0, 40));
    ASSERT_EQ(Call(kSaveFile, {std::string("saved.bin"), c.data}), 0) << Read(kErrorMsg);
    EXPECT_EQ(ReadFileText(In("saved.bin")), c.bytes);
    ASSERT_EQ(Call(kOpenFile, {In("saved.bin").string(), c.mode}), 0) << Read(kErrorMsg);
    EXPECT_EQ(Read(kFileData), c.read);
    EXPECT_EQ(component_->Call(kFileSize).real, static_cast<double>(c.bytes.size()));
  }
  ASSERT_EQ(Call(kSaveFile, {std::string("saved.bin"), std::string("data:;base64,") + kAllBytesBase64}), 0);
  EXPECT_EQ(Call(kOpenFile, {std::string("saved.bin"), 0}), kConversionFailed) << "bytes that are not UTF-8 text";
  EXPECT_EQ(Read(kFileData), "");
  EXPECT_EQ(Call(kSaveFile, {std::string("saved.bin"), std::string("data:;base64,@@@@")}), kBadArgument);
  EXPECT_EQ(ReadFileText(In("saved.bin")), AllBytes()) << "a refused write keeps the old content";
  for (std::int32_t mode : {-1, 2}) EXPECT_EQ(Call(kOpenFile, {std::string("saved.bin"), mode}), kBadArgument);
  EXPECT_EQ(Call(kOpenFile, {std::string("missing.txt"), 0}), kFileError);
  EXPECT_EQ(Call(kSaveFile, {std::string("no-such-folder/a.txt"), std::string("x")}), kFileError);
  EXPECT_EQ(Call(kSaveFile, {std::string(), std::string("x")}), kBadArgument);
}

TEST_F(FileMembers, ReplacingAFileKeepsItsPermissionsAndLeavesNoTemporaryFile) {
  ScratchHome::Write(In("private.txt"), "old");
  fs::permissions(In("private.txt"), fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_EQ(Call(kSaveFile, {std::string("private.txt"), std::string("new")}), 0);
  EXPECT_EQ(ReadFileText(In("private.txt")), "new");
  EXPECT_EQ(fs::status(In("private.txt")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(std::distance(fs::directory_iterator(home_.working()), fs::directory_iterator()), 1);
}

// Writes that fail half way (the file-size limit stands in for a full
// disk) leave the old content under the name.
TEST_F(FileMembers, AFailedWriteLeavesTheOldContent) {
  ScratchHome::Write(In("kept.txt"), "old content");
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string big(10000, 'x');
  const std::int32_t saved = Call(kSaveFile, {std::string("kept.txt"), big});
  const std::int32_t appended = Call(kAppendFile, {std::string("kept.txt"), big});
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(saved, kFileError);
  EXPECT_EQ(appended, kFileError);
  EXPECT_EQ(ReadFileText(In("kept.txt")), "old content");
  EXPECT_EQ(Read(kAppendFilePath), "");
  EXPECT_EQ(component_->Call(kAppendDataSize).integer, 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(home_.working()), fs::directory_iterator()), 1);
}

TEST_F(FileMembers, LoadFileReadsChunksAsBase64) {
  EXPECT_EQ(Read(kLoadFileData), "") << "nothing before loadFile";
  ScratchHome::Write(In("ten.txt"), "0123456789");
  const struct {
    std::int32_t offset, length, code;
    std::string base64;  // the chunk
    std::int64_t size;
  } cases[] = {
      {0, 4, 0, "MDEyMw==", 4},
      {8, 4, 0, "ODk=", 2},
      {10, 4, 0, "", 0},
      {1000, 1, 0, "", 0},
      {-1, 4, kBadArgument, "", 0},
      {0, 0, kBadArgument, "", 0},
      {0, -5, kBadArgument, "", 0},
      {0, (4 << 20) + 1, kBadArgument, "", 0},
      {0, 4 << 20, 0, "MDEyMzQ1Njc4OQ==", 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.offset) + "+" + std::to_string(c.length));
    EXPECT_EQ(Call(kLoadFile, {std::string("ten.txt"), c.offset, c.length}), c.code);
    EXPECT_EQ(Read(kLoadFileData), c.base64);
    EXPECT_EQ(component_->Call(kLoadFileDataSize).integer, c.size);
  }
  ASSERT_EQ(Call(kLoadFile, {std::string("ten.txt"), 2, 3}), 0);
  EXPECT_EQ(Call(kClearLoadData), 0);
  EXPECT_EQ(Read(kLoadFileData), "");
  EXPECT_EQ(component_->Call(kLoadFileDataSize).integer, 0);
}

TEST_F(FileMembers, AppendFileCreatesThenExtends) {
  EXPECT_EQ(Read(kAppendFilePath), "");
  ASSERT_EQ(Call(kAppendFile, {std::string("log.txt"), std::string("one")}), 0);
  ASSERT_EQ(Call(kAppendFile, {std::string("log.txt"), std::string("data:;base64,AAE=")}), 0);
  EXPECT_EQ(ReadFileText(In("log.txt")), std::string("one\0\1", 5));
  EXPECT_EQ(Read(kAppendFilePath), In("log.txt").string());
  EXPECT_EQ(component_->Call(kAppendDataSize).integer, 2);
  EXPECT_EQ(Call(kAppendFile, {std::string("log.txt"), std::string("data:;base64,A")}), kBadArgument);
  EXPECT_EQ(Read(kAppendFilePath), "") << "a failed append reports no path";
  fs::create_directory(In("folder"));
  EXPECT_EQ(Call(kAppendFile, {std::string("folder"), std::string("x")}), kFileError);
}

TEST_F(FileMembers, MoveAndDeleteWorkOnFilesOnly) {
  ScratchHome::Write(In("a.txt"), "A");
  ScratchHome::Write(In("b.txt"), "B");
  fs::create_directory(In("folder"));
  ScratchHome::Write(In("folder/inner.txt"), "inner");
  const struct {
    int dispid;
    std::vector<Argument> args;
    std::int32_t code;
  } steps[] = {
      {kMoveFile, {std::string("a.txt"), std::string("c.txt")}, 0},
      {kMoveFile, {std::string("c.txt"), std::string("b.txt")}, 0},  // replaces b.txt
      {kMoveFile, {std::string("c.txt"), std::string("d.txt")}, kFileError},
      {kMoveFile, {std::string("folder"), std::string("moved-folder")}, kFileError},
      {kMoveFile, {std::string("b.txt"), std::string("folder")}, kFileError},
      {kMoveFile, {std::string("b.txt"), std::string("no-such-folder/b.txt")}, kFileError},
      {kDeleteFile, {std::string("folder")}, kFileError},
      {kDeleteFile, {std::string("missing.txt")}, kFileError},
      {kDeleteFile, {std::string("folder/inner.txt")}, 0},
  };
  for (const auto& step : steps) EXPECT_EQ(Call(step.dispid, step.args), step.code) << &step - steps;
  EXPECT_EQ(ReadFileText(In("b.txt")), "A");
  EXPECT_FALSE(fs::exists(In("a.txt")));
  EXPECT_TRUE(fs::is_directory(In("folder")));
  EXPECT_FALSE(fs::exists(In("folder/inner.txt")));
}

TEST_F(FileMembers, OpenFileRefusesLargeFilesButTellsTheirSize) {
  const std::uintmax_t size = (8 << 20) + 1;
  ScratchHome::Write(In("large.bin"), "");
  fs::resize_file(In("large.bin"), size);
  EXPECT_EQ(Call(kOpenFile, {std::string("large.bin"), 1}), kBadArgument);
  EXPECT_EQ(component_->Call(kFileSize).real, static_cast<double>(size));
  EXPECT_EQ(Read(kFileData), "");
  EXPECT_EQ(Call(kLoadFile, {std::string("large.bin"), 8 << 20, 10}), 0) << "loadFile reads such files in parts";
  EXPECT_EQ(component_->Call(kLoadFileDataSize).integer, 1);
}

TEST_F(FileMembers, UserFolderAndTempFree) {
  fs::remove(home_.working());
  EXPECT_EQ(Read(kUserFolder), home_.working().string());
  EXPECT_EQ(fs::status(home_.working()).permissions() & fs::perms::all, fs::perms::owner_all);

  const CallResult free = component_->Call(kTempFree);
  ASSERT_EQ(free.type, VORLINK_VT_UI4);
  struct statvfs info {};
  ASSERT_EQ(::statvfs(fs::temp_directory_path().c_str(), &info), 0);
  const double mib = static_cast<double>(info.f_bavail) * info.f_frsize / (1 << 20);
  EXPECT_NEAR(static_cast<double>(free.integer), std::min(mib, 4294967295.0), 256) << "MiB, not bytes or KiB";
}

}  // namespace
}  // namespace vorlink::test
