// encodeFile, decodeFile, encFile and decFile on real files in a scratch
// HOME: chunk boundaries, refusals that must leave the output untouched,
// and paths outside the folders the component may touch.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

#include "component_client.h"
#include "software_recipient.h"
#include "support/test_paths.h"

namespace vorlink::test {
namespace {
namespace fs = std::filesystem;

enum Dispid {
  kGenSecretKey = 15,
  kDecryptData = 17,
  kDecrypted = 24,
  kEncodeFile = 74,
  kDecodeFile = 75,
  kEncFile = 77,
  kDecFile = 79,
  kEncFilePath = 82,
  kDecFilePath = 84,
  kEncodePath = 89,
  kDecodePath = 90
};
constexpr std::int32_t kBadArgument = 0x5005, kVerifyFailed = 0x5009, kFileNotAllowed = 0x500A, kFileError = 0x500B,
                       kNoData = 0x500D;

// Bytes that are not all alike, so a chunk written twice or left out shows.
std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t state = 12345;
  for (char& c : bytes) c = static_cast<char>((state = state * 1103515245 + 12345) >> 16);
  return bytes;
}

void WriteFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

class FileCryptoMembers : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* home = std::getenv("HOME");
    old_home_ = home ? std::optional<std::string>(home) : std::nullopt;
    ::setenv("HOME", home_.path().c_str(), 1);  // read when the instance is made
    component_ = std::make_unique<ComponentClient>(P11CRYPTO_LIBRARY);
    fs::create_directories(work_);
  }
  void TearDown() override {
    component_.reset();
    if (old_home_) ::setenv("HOME", old_home_->c_str(), 1);
  }
  // Everything in the working folder, to see that no temporary file stayed.
  std::vector<std::string> Listing() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(work_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  ScratchDir home_;
  fs::path work_ = home_.path() / "Vorlink Files";
  std::optional<std::string> old_home_;
  std::unique_ptr<ComponentClient> component_;
};

TEST_F(FileCryptoMembers, EncodeFileIsBase64AcrossChunkAndGroupBoundaries) {
  for (size_t size : {0, 1, 2, 3, 65535, 65536, 65537, 3 * 65536 + 1}) {
    const std::string bytes = Pattern(size);
    WriteFile(work_ / "in.bin", bytes);
    ASSERT_EQ(component_->Method(kEncodeFile, {std::string("in.bin"), std::string("in.b64")}), 0)
        << component_->ErrorMessage();
    EXPECT_EQ(ReadFileText(work_ / "in.b64"), ToBase64(bytes)) << size;
    EXPECT_EQ(component_->Text(kEncodePath), (work_ / "in.b64").string());
    ASSERT_EQ(component_->Method(kDecodeFile, {(work_ / "in.b64").string(), std::string("out.bin")}), 0);
    EXPECT_EQ(ReadFileText(work_ / "out.bin"), bytes) << size;
    EXPECT_EQ(component_->Text(kDecodePath), (work_ / "out.bin").string());
  }
  EXPECT_EQ(Listing(), (std::vector<std::string>{"in.b64", "in.bin", "out.bin"}));
}

TEST_F(FileCryptoMembers, ARefusedInputLeavesTheOutputAsItWas) {
  const std::string valid = ToBase64(Pattern(300000));
  ASSERT_EQ(component_->Method(kGenSecretKey), 0);
  WriteFile(work_ / "out", "older file");
  const struct {
    std::string name;
    int dispid;
    std::string input;
    std::int32_t code;
  } cases[] = {
      {"not Base64", kDecodeFile, "Zm9v!", kBadArgument},
      {"bad Base64 after 200 KB of good", kDecodeFile, valid.substr(0, 200000) + "*" + valid.substr(200000),
       kBadArgument},
      {"a lone trailing character", kDecodeFile, valid + "Q", kBadArgument},
      {"shorter than IV and tag", kDecFile, std::string(27, 'x'), kBadArgument},
      {"not encrypted with the key", kDecFile, Pattern(200000), kVerifyFailed},
  };
  for (const auto& c : cases) {
    WriteFile(work_ / "in", c.input);
    EXPECT_EQ(component_->Method(c.dispid, {std::string("in"), std::string("out")}), c.code) << c.name;
    EXPECT_EQ(ReadFileText(work_ / "out"), "older file") << c.name;
    EXPECT_EQ(Listing(), (std::vector<std::string>{"in", "out"})) << c.name << ": no temporary file stays";
  }
}

TEST_F(FileCryptoMembers, EncFileRoundTripsAndDetectsEveryChange) {
  EXPECT_EQ(component_->Method(kEncFile, {std::string("a"), std::string("b")}), kNoData);
  ASSERT_EQ(component_->Method(kGenSecretKey), 0);
  for (size_t size : {0, 100, 65536 + 5, 300000}) {
    const std::string bytes = Pattern(size);
    WriteFile(work_ / "plain", bytes);
    ASSERT_EQ(component_->Method(kEncFile, {std::string("plain"), std::string("sealed")}), 0)
        << component_->ErrorMessage();
    EXPECT_EQ(component_->Text(kEncFilePath), (work_ / "sealed").string());
    const std::string sealed = ReadFileText(work_ / "sealed");
    EXPECT_EQ(sealed.size(), size + 28) << size;
    ASSERT_EQ(component_->Method(kDecFile, {std::string("sealed"), std::string("opened")}), 0) << size;
    EXPECT_EQ(ReadFileText(work_ / "opened"), bytes) << size;
    EXPECT_EQ(component_->Text(kDecFilePath), (work_ / "opened").string());
    for (size_t at : {size_t{0}, sealed.size() / 2, sealed.size() - 1}) {
      std::string changed = sealed;
      changed[at] ^= 0x40;
      WriteFile(work_ / "changed", changed);
      EXPECT_EQ(component_->Method(kDecFile, {std::string("changed"), std::string("opened2")}), kVerifyFailed)
          << size << " at " << at;
      EXPECT_FALSE(fs::exists(work_ / "opened2"));
    }
  }
}

TEST_F(FileCryptoMembers, AnEncryptedFileIsEncryptDataInBinary) {
  ASSERT_EQ(component_->Method(kGenSecretKey), 0);
  WriteFile(work_ / "note.txt", "檔案 content");
  ASSERT_EQ(component_->Method(kEncFile, {std::string("note.txt"), std::string("note.enc")}), 0);
  ASSERT_EQ(component_->Method(kDecryptData, {ToBase64(ReadFileText(work_ / "note.enc"))}), 0);
  EXPECT_EQ(component_->Text(kDecrypted), "檔案 content");
}

TEST_F(FileCryptoMembers, PathsOutsideTheAllowedFoldersTouchNothing) {
  ASSERT_EQ(component_->Method(kGenSecretKey), 0);
  WriteFile(work_ / "inside", "data");
  const fs::path outside = home_.path() / "outside";
  WriteFile(outside, "Zm9v");
  fs::create_symlink(home_.path(), work_ / "link");
  const std::string in = "inside";
  const struct {
    std::string name, input, output;
  } cases[] = {
      {"output beside the working folder", in, outside.string() + ".out"},
      {"output through ..", in, "../escaped"},
      {"output through a link", in, "link/escaped"},
      {"output in /tmp", in, "/tmp/vorlink-escaped"},
      {"input beside the working folder", outside.string(), "result"},
      {"input through ..", "../outside", "result"},
      {"input through a link", "link/outside", "result"},
  };
  for (int dispid : {kEncodeFile, kDecodeFile, kEncFile, kDecFile}) {
    for (const auto& c : cases) {
      EXPECT_EQ(component_->Method(dispid, {c.input, c.output}), kFileNotAllowed) << dispid << " " << c.name;
      EXPECT_FALSE(component_->ErrorMessage().empty());
    }
  }
  EXPECT_FALSE(fs::exists(outside.string() + ".out"));
  EXPECT_FALSE(fs::exists(home_.path() / "escaped"));
  EXPECT_FALSE(fs::exists("/tmp/vorlink-escaped"));
  EXPECT_FALSE(fs::exists(work_ / "result"));
  EXPECT_EQ(ReadFileText(outside), "Zm9v");
}

TEST_F(FileCryptoMembers, MissingFilesAndFoldersFailWithoutLeavingAnything) {
  fs::create_directories(work_ / "folder");
  WriteFile(work_ / "in", "Zm9v");
  const struct {
    std::string name, input, output;
    std::int32_t code;
  } cases[] = {
      {"no input", "missing", "out", kFileError},
      {"input is a folder", "folder", "out", kFileError},
      {"output folder missing", "in", "nowhere/out", kFileError},
      {"output is a folder", "in", "folder", kFileError},
      {"no input path", "", "out", kBadArgument},
      {"no output path", "in", "", kBadArgument},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(component_->Method(kDecodeFile, {c.input, c.output}), c.code) << c.name;
  }
  EXPECT_EQ(Listing(), (std::vector<std::string>{"folder", "in"}));
  EXPECT_TRUE(fs::is_empty(work_ / "folder"));
}

}  // namespace
}  // namespace vorlink::test
