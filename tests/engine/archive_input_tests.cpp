// Archive members through the per-file pipeline: extracted whole, read from memory, converted
// exactly as the same file from a folder.
#include <gtest/gtest.h>

#include <QFile>

#include "engine/pipeline.h"
#include "sources/rar_archive.h"
#include "sources/zip_reader.h"
#include "sources/zip_writer.h"

namespace velorin {
namespace {

QString qpath(const std::filesystem::path& path) { return QFile::decodeName(path.c_str()); }

std::vector<uint8_t> fileBytes(const QString& path) {
  return test::readBytes(std::filesystem::path(QFile::encodeName(path).toStdString()));
}

// A 24-bit picture whose colours depend on n, so every member differs.
std::vector<uint8_t> picture(int n) {
  const int width = 13 + n, height = 7 + n % 5;
  const uint64_t stride = paddedStride(width, 24);
  std::vector<uint8_t> rows(stride * height, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) rows[y * stride + 3 * x + c] = static_cast<uint8_t>(x * 11 + y * 5 + c * n * 9);
  return test::makeBmp(width, height, 24, {}, rows);
}

FileEntry entryFor(const MemberEntry& member) {
  FileEntry entry;
  entry.name = member.fileName;
  entry.folder = member.folder;
  entry.memberPosition = member.position;
  entry.size = member.size;
  entry.lastWriteTime = member.fileTime;
  return entry;
}

TEST(ArchiveInput, ZipMembersConvertByteForByteLikeFolderFiles) {
  test::TempFolder folder;
  std::vector<test::ZipMember> members;
  for (int i = 0; i < 20; ++i) {
    const std::string name = "pic" + std::to_string(i) + ".bmp";
    members.push_back({"in/" + name, picture(i), static_cast<uint16_t>(i % 2 ? 8 : 0)});
    test::writeBytes(folder / name, members.back().data);
  }
  test::writeBytes(folder / "pictures.zip", test::makeZip(members));
  const QString archive = qpath(folder / "pictures.zip");
  const auto list = listZip(archive);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->entries.size(), 20u);

  ConversionSettings settings;
  settings.OFmt = 0;
  auto fromFolder = createJobWorkspace(settings);
  auto fromZip = createJobWorkspace(settings);
  ASSERT_TRUE(fromFolder && fromZip);
  fromZip->sourceKind = SourceKind::Zip;
  fromZip->archivePath = archive;
  for (const MemberEntry& member : list->entries) {
    const FileEntry entry = entryFor(member);
    QString outFolder, outZip;
    ASSERT_TRUE(convertFile(*fromFolder, nullptr, qpath(folder / member.fileName.toStdString()), outFolder));
    ASSERT_TRUE(convertFile(*fromZip, &entry, QString(), outZip)) << member.fileName.toStdString();
    EXPECT_EQ(fileBytes(outFolder), fileBytes(outZip)) << member.fileName.toStdString();
    EXPECT_EQ(fromZip->image.sourceFileTime, member.fileTime);
    QFile::remove(outFolder);
    QFile::remove(outZip);
  }
  // The archive itself is never changed by reading its members.
  EXPECT_EQ(fileBytes(archive), test::makeZip(members));
}

TEST(ArchiveInput, BadMembersFailTheEntryOnly) {
  test::TempFolder folder;
  test::writeBytes(folder / "a.zip", test::makeZip({{"bad.bmp", picture(1), 0, false, 0, 1},
                                                   {"text.bmp", test::bytesOf("not a picture")},
                                                   {"good.bmp", picture(2)}}));
  const auto list = listZip(qpath(folder / "a.zip"));
  ASSERT_TRUE(list);
  ConversionSettings settings;
  settings.OFmt = 0;
  auto ws = createJobWorkspace(settings);
  ws->sourceKind = SourceKind::Zip;
  ws->archivePath = qpath(folder / "a.zip");
  EXPECT_FALSE(loadFromEntry(*ws, entryFor(list->entries[0])));
  EXPECT_FALSE(ws->image.pixels);
  EXPECT_FALSE(loadFromEntry(*ws, entryFor(list->entries[1])));
  EXPECT_TRUE(loadFromEntry(*ws, entryFor(list->entries[2])));
  EXPECT_EQ(ws->image.workWidth, 15);
  ws->archivePath = qpath(folder / "missing.zip");
  EXPECT_FALSE(loadFromEntry(*ws, entryFor(list->entries[2])));
}

TEST(ArchiveInput, ConformanceZipImagesLoad) {
  ConversionSettings settings;
  settings.OFmt = 0;
  auto ws = createJobWorkspace(settings);
  ws->sourceKind = SourceKind::Zip;
  int loaded = 0;
  for (const char* name : {"stored.zip", "deflated.zip", "data_descriptor_stored.zip", "uppercase_ext.zip"}) {
    ws->archivePath = qpath(test::testdata(std::string("zip/generated/") + name));
    const auto list = listZip(ws->archivePath);
    ASSERT_TRUE(list) << name;
    for (const MemberEntry& member : list->entries) {
      // Only the formats whose readers are built so far must load; the rest fail cleanly.
      const bool isBmp = member.fileName.endsWith(".bmp", Qt::CaseInsensitive);
      const bool ok = loadFromEntry(*ws, entryFor(member));
      if (isBmp) {
        EXPECT_TRUE(ok) << name << " " << member.fileName.toStdString();
      }
      loaded += ok;
    }
  }
  EXPECT_GE(loaded, 4);
}

}  // namespace
}  // namespace velorin

namespace velorin {
namespace {

TEST(ArchiveInput, RarMembersLoadLikeTheSameBytesFromMemory) {
  ConversionSettings settings;
  settings.OFmt = 0;
  auto ws = createJobWorkspace(settings);
  auto reference = createJobWorkspace(settings);
  ws->sourceKind = SourceKind::Rar;
  ws->pluginFolder = QStringLiteral(VELORIN_BINARY_DIR "/bin");
  ws->archivePath = qpath(test::testdata("rar/rar-test-files/testfile.rar5.cbr"));
  const auto list = listRar(ws->archivePath, ws->pluginFolder);
  ASSERT_TRUE(list);
  int members = 0;
  for (const MemberEntry& member : list->entries) {
    if (member.fileName.isEmpty()) continue;
    const auto bytes = test::readBytes(test::testdata("rar/rar-test-files/sources/" + member.fileName.toStdString()));
    const bool expected = loadFromMemory(*reference, bytes.data(), bytes.size(), member.fileName);
    EXPECT_EQ(loadFromEntry(*ws, entryFor(member)), expected) << member.fileName.toStdString();
    if (expected) {
      EXPECT_EQ(ws->image.workWidth, reference->image.workWidth);
    }
    ++members;
  }
  EXPECT_EQ(members, 2);
  ws->archivePath = QStringLiteral("/nonexistent.rar");
  EXPECT_FALSE(loadFromEntry(*ws, entryFor(list->entries[0])));
}

}  // namespace
}  // namespace velorin
