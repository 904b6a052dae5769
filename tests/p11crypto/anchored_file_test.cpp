// Paths that change between the guard's check and the file work: a folder
// on the way, or the file itself, swapped for a link to somewhere else.

#include "p11crypto/files/anchored_file.h"

#include <cerrno>
#include <functional>
#include <gtest/gtest.h>

#include "scratch_home.h"

namespace p11crypto {
namespace {

namespace fs = std::filesystem;
using vorlink::test::ReadFileText;
using vorlink::test::ScratchHome;

struct Swapped {
  const char* what;
  std::function<int(const AllowedPath&)> work;
  int error;  // 0: the work succeeds, but on the anchored file, never outside
};

const Swapped kWork[] = {
    {"replace", [](const AllowedPath& p) { return ReplaceFile(p, "new"); }, 0},
    {"append", [](const AllowedPath& p) { return AppendToFile(p, "new"); }, ELOOP},
    {"read",
     [](const AllowedPath& p) {
       std::string bytes;
       std::uint64_t size = 0;
       return ReadWholeFile(p, 100, bytes, size);
     },
     ELOOP},
    {"chunk",
     [](const AllowedPath& p) {
       std::string bytes;
       return ReadFileChunk(p, 0, 10, bytes);
     },
     ELOOP},
    {"delete", [](const AllowedPath& p) { return DeleteFile(p); }, EINVAL},
};

TEST(AnchoredFile, AFileSwappedForALinkAfterTheCheckIsNotFollowed) {
  for (const Swapped& work : kWork) {
    SCOPED_TRACE(work.what);
    ScratchHome home;
    FolderGuard guard;
    ScratchHome::Write(home.working() / "file.txt", "old");
    int error = 0;
    const auto path = guard.Open("file.txt", error);
    ASSERT_TRUE(path && path->folder);
    fs::remove(home.working() / "file.txt");
    fs::create_symlink(home.secret(), home.working() / "file.txt");
    EXPECT_EQ(work.work(*path), work.error);
    EXPECT_EQ(ReadFileText(home.secret()), ScratchHome::kSecret);
  }
}

TEST(AnchoredFile, AFolderSwappedForALinkAfterTheCheckIsNotFollowed) {
  ScratchHome home;
  FolderGuard guard;
  fs::create_directories(home.working() / "sub");
  int error = 0;
  const auto path = guard.Open("sub/secret.txt", error);
  ASSERT_TRUE(path && path->folder);
  fs::rename(home.working() / "sub", home.working() / "moved");
  fs::create_directory_symlink(home.outside(), home.working() / "sub");
  ASSERT_EQ(ReplaceFile(*path, "new"), 0);
  EXPECT_EQ(ReadFileText(home.secret()), ScratchHome::kSecret);
  EXPECT_EQ(ReadFileText(home.working() / "moved/secret.txt"), "new") << "written where the check looked";

  EXPECT_EQ(guard.Open("sub/secret.txt", error), std::nullopt) << "checked again, the link leads outside";
}

}  // namespace
}  // namespace p11crypto
