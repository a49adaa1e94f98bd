// Output naming and the name preview.
#include <gtest/gtest.h>

#include "engine/naming.h"
#include "engine_test_support.h"

namespace velorin {
namespace {

using test::q;

NamingRules rules(const QString& extension, int NameSet = 0) {
  NamingRules r;
  r.NameSet = NameSet;
  r.extension = extension;
  return r;
}

TEST(Naming, StemsOfTheThreeRules) {
  EXPECT_EQ(outputFileName(rules(".png"), u"archive.tar.gz", 0, nullptr), QStringLiteral("archive.tar.png"));
  EXPECT_EQ(outputFileName(rules(".png"), u"README", 0, nullptr), QStringLiteral("README.png"));

  NamingRules serial = rules(".jpg", 2);
  serial.StartNum = 7;
  serial.DigitNum = 3;
  EXPECT_EQ(outputFileName(serial, u"x.bmp", 0, nullptr), QStringLiteral("007.jpg"));
  EXPECT_EQ(outputFileName(serial, u"y.bmp", 1, nullptr), QStringLiteral("008.jpg"));
  serial.StartNum = 12;
  serial.DigitNum = 1;
  EXPECT_EQ(outputFileName(serial, u"x.bmp", 0, nullptr), QStringLiteral("12.jpg"));

  const NamingRules exif = rules(".jpg", 1);
  EXPECT_EQ(outputFileName(exif, u"shot.jpg", 0, "2013:05:28 14:21:26"), QStringLiteral("20130528_142126.jpg"));
  EXPECT_EQ(outputFileName(exif, u"anim.gif", 0, nullptr), QStringLiteral("anim.jpg"));

  ConversionSettings s;
  s.TopAdd = true;
  s.TopStr = QStringLiteral("pre_");
  s.EndAdd = false;
  s.EndStr = QStringLiteral("_unused");
  EXPECT_EQ(outputFileName(NamingRules::from(s, ".gif"), u"a.bmp", 0, nullptr), QStringLiteral("pre_a.gif"));
  s.EndAdd = true;
  EXPECT_EQ(outputFileName(NamingRules::from(s, ".gif"), u"a.bmp", 0, nullptr), QStringLiteral("pre_a_unused.gif"));
}

TEST(Naming, OutputFolderJoinsWithOneSlash) {
  EXPECT_EQ(joinPath(QStringLiteral("/"), QStringLiteral("x.jpg")), QStringLiteral("/x.jpg"));
  EXPECT_EQ(joinPath(QStringLiteral("/out/"), QStringLiteral("x.jpg")), QStringLiteral("/out/x.jpg"));
  EXPECT_EQ(joinPath(QStringLiteral("/out"), QStringLiteral("x.jpg")), QStringLiteral("/out/x.jpg"));
}

TEST(Naming, CollisionSuffixSkipsTakenNames) {
  test::TempFolder folder;
  test::writeBytes(folder / "photo.jpg", {1});
  test::writeBytes(folder / "photo+1.jpg", {1});
  std::filesystem::create_symlink(folder / "nowhere", folder / "photo+2.jpg");  // a dangling link is taken too
  EXPECT_EQ(makeOutputPath(rules(".jpg"), q(folder.path()), u"photo.jpg", 0, nullptr), q(folder / "photo+3.jpg"));
  EXPECT_EQ(makeOutputPath(rules(".jpg"), q(folder.path()), u"new.bmp", 0, nullptr), q(folder / "new.jpg"));
}

TEST(Naming, NoFreeNameWhenTheSuffixMakesTheNameTooLong) {
  test::TempFolder folder;
  const std::string longStem(250, 'n');  // "+1.jpg" pushes it past 255 bytes
  test::writeBytes(folder / (longStem + ".jpg"), {1});
  EXPECT_TRUE(resolveCollision(q(folder / (longStem + ".jpg"))).isEmpty());
}

TEST(NamePreview, TableGivesTheSameNamesAsTheDisk) {
  test::TempFolder folder;
  test::writeBytes(folder / "x.jpg", {1});
  test::writeBytes(folder / "other.png", {1});
  QStringList table = existingOutputNames(q(folder.path()), QStringLiteral(".jpg"));
  EXPECT_EQ(table, QStringList{"x.jpg"});
  // Two members a/x.jpg and b/x.jpg of one archive are both named from "x.jpg".
  EXPECT_EQ(previewOutputName(rules(".jpg"), q(folder.path()), u"x.jpg", 0, nullptr, table), QStringLiteral("x+1.jpg"));
  EXPECT_EQ(previewOutputName(rules(".jpg"), q(folder.path()), u"x.jpg", 1, nullptr, table), QStringLiteral("x+2.jpg"));
  QStringList empty;
  EXPECT_EQ(previewOutputName(rules(".jpg"), q(folder.path()), u"x.jpg", 0, nullptr, empty), QStringLiteral("x.jpg"));
  EXPECT_EQ(previewOutputName(rules(".jpg"), q(folder.path()), u"x.jpg", 1, nullptr, empty), QStringLiteral("x+1.jpg"));

  QStringList full;
  full << QStringLiteral("y.jpg");
  for (int n = 1; n <= kMaxCollisionNumber; ++n) full << QStringLiteral("y+%1.jpg").arg(n);
  EXPECT_TRUE(previewOutputName(rules(".jpg"), q(folder.path()), u"y.gif", 0, nullptr, full).isEmpty());
}

}  // namespace
}  // namespace velorin
