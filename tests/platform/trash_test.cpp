// The trash follows the freedesktop.org layout so file managers can show and restore what the
// program trashed.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/trash.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

using test::q;

std::string readText(const std::filesystem::path& path) {
  const std::vector<uint8_t> bytes = test::readBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

class TrashTest : public ::testing::Test {
 protected:
  test::TempFolder folder_;
  test::ScopedEnv dataHome_{"XDG_DATA_HOME", (folder_ / "data").c_str()};
};

TEST_F(TrashTest, MovesTheFileAndRecordsWhereItCameFrom) {
  std::filesystem::create_directories(folder_ / "pics");
  const auto source = folder_ / "pics" / "my photo%.jpg";
  test::writeBytes(source, {1, 2, 3});
  const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
  ASSERT_TRUE(moveToTrash(q(source)));
  EXPECT_FALSE(std::filesystem::exists(source));

  const auto trash = folder_ / "data" / "Trash";
  EXPECT_EQ(homeTrashFolder(), q(trash));
  EXPECT_EQ(test::readBytes(trash / "files" / "my photo%.jpg"), (std::vector<uint8_t>{1, 2, 3}));
  const std::string info = readText(trash / "info" / "my photo%.jpg.trashinfo");
  const std::string canonical = std::filesystem::canonical(folder_ / "pics").string();
  const std::string expectedPath =
      QUrl::toPercentEncoding(QString::fromStdString(canonical + "/my photo%.jpg"), "/").toStdString();
  EXPECT_EQ(info.rfind("[Trash Info]\nPath=" + expectedPath + "\nDeletionDate=", 0), 0u) << info;
  const std::string date = info.substr(info.find("DeletionDate=") + 13, 19);
  const QDateTime when = QDateTime::fromString(QString::fromStdString(date), QStringLiteral("yyyy-MM-ddThh:mm:ss"));
  ASSERT_TRUE(when.isValid()) << date;
  EXPECT_GE(when, before);
  EXPECT_EQ(std::filesystem::status(trash).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
}

TEST_F(TrashTest, SameNameTwiceGetsANewNameInTheTrash) {
  const auto trash = folder_ / "data" / "Trash";
  for (int i = 0; i < 3; ++i) {
    test::writeBytes(folder_ / "x.jpg", {static_cast<uint8_t>(i)});
    ASSERT_TRUE(moveToTrash(q(folder_ / "x.jpg")));
  }
  EXPECT_EQ(test::readBytes(trash / "files" / "x.jpg"), std::vector<uint8_t>{0});
  EXPECT_EQ(test::readBytes(trash / "files" / "x.2.jpg"), std::vector<uint8_t>{1});
  EXPECT_EQ(test::readBytes(trash / "files" / "x.3.jpg"), std::vector<uint8_t>{2});
  EXPECT_TRUE(std::filesystem::exists(trash / "info" / "x.2.jpg.trashinfo"));
  EXPECT_TRUE(std::filesystem::exists(trash / "info" / "x.3.jpg.trashinfo"));
}

TEST_F(TrashTest, MissingFileLeavesNoInfoBehind) {
  EXPECT_FALSE(moveToTrash(q(folder_ / "never.jpg")));
  const auto info = folder_ / "data" / "Trash" / "info";
  EXPECT_TRUE(!std::filesystem::exists(info) || std::filesystem::is_empty(info));
}

TEST_F(TrashTest, ALinkIsTrashedNotItsTarget) {
  test::writeBytes(folder_ / "real.jpg", {9});
  std::filesystem::create_symlink(folder_ / "real.jpg", folder_ / "link.jpg");
  ASSERT_TRUE(moveToTrash(q(folder_ / "link.jpg")));
  EXPECT_TRUE(std::filesystem::exists(folder_ / "real.jpg"));
  EXPECT_TRUE(std::filesystem::is_symlink(folder_ / "data" / "Trash" / "files" / "link.jpg"));
}

TEST_F(TrashTest, FilesOnAnotherFileSystemUseThatFileSystemsTrash) {
  // /dev/shm is a separate memory file system on most systems; without it there is nothing to test.
  const std::filesystem::path other = "/dev/shm";
  struct stat otherInfo {}, homeInfo {};
  if (::stat(other.c_str(), &otherInfo) != 0 || ::stat(folder_.path().c_str(), &homeInfo) != 0 ||
      otherInfo.st_dev == homeInfo.st_dev || ::access(other.c_str(), W_OK) != 0)
    GTEST_SKIP() << "no second writable file system";
  const std::string name = "velorin-trash-test-" + std::to_string(::getpid()) + ".jpg";
  test::writeBytes(other / name, {7});
  const std::filesystem::path trash = other / (".Trash-" + std::to_string(::getuid()));
  const bool hadTrash = std::filesystem::exists(trash);
  ASSERT_TRUE(moveToTrash(q(other / name)));
  EXPECT_FALSE(std::filesystem::exists(other / name));
  EXPECT_EQ(test::readBytes(trash / "files" / name), std::vector<uint8_t>{7});
  // Paths in a file system's own trash are relative to its top folder.
  const std::string info = readText(trash / "info" / (name + ".trashinfo"));
  EXPECT_NE(info.find("\nPath=" + name + "\n"), std::string::npos) << info;
  std::error_code ignored;
  std::filesystem::remove(trash / "files" / name, ignored);
  std::filesystem::remove(trash / "info" / (name + ".trashinfo"), ignored);
  if (!hadTrash) {  // only what is empty, in case another run is using the same trash
    std::filesystem::remove(trash / "files", ignored);
    std::filesystem::remove(trash / "info", ignored);
    std::filesystem::remove(trash, ignored);
  }
}

}  // namespace
}  // namespace velorin
