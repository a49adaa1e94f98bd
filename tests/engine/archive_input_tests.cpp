// Archive members through the per-file pipeline: extracted whole, read from memory, converted
// exactly as the same file from a folder.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <QFile>

#include <algorithm>

#include "engine/archive_members.h"
#include "engine/file_list.h"
#include "engine/input_paths.h"
#include "engine/pipeline.h"
#include "sources/plugin_host.h"
#include "sources/rar_archive.h"
#include "sources/zip_reader.h"
#include "sources/zip_writer.h"
#include "support/qt_test_support.h"

namespace velorin {
namespace {

using test::q;

std::vector<uint8_t> fileBytes(const QString& path) {
  return test::readBytes(toFsPath(path));
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
  const QString archive = q(folder / "pictures.zip");
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
    PendingFile outFolder, outZip;
    ASSERT_TRUE(convertFile(*fromFolder, nullptr, q(folder / member.fileName.toStdString()), outFolder));
    ASSERT_TRUE(convertFile(*fromZip, &entry, QString(), outZip)) << member.fileName.toStdString();
    EXPECT_EQ(fileBytes(outFolder.path()), fileBytes(outZip.path())) << member.fileName.toStdString();
    EXPECT_EQ(fromZip->image.sourceFileTime, member.fileTime);
  }
  // The archive itself is never changed by reading its members.
  EXPECT_EQ(fileBytes(archive), test::makeZip(members));
}

TEST(ArchiveInput, BadMembersFailTheEntryOnly) {
  test::TempFolder folder;
  test::writeBytes(folder / "a.zip", test::makeZip({{"bad.bmp", picture(1), 0, false, 0, 1},
                                                   {"text.bmp", test::bytesOf("not a picture")},
                                                   {"good.bmp", picture(2)}}));
  const auto list = listZip(q(folder / "a.zip"));
  ASSERT_TRUE(list);
  ConversionSettings settings;
  settings.OFmt = 0;
  auto ws = createJobWorkspace(settings);
  ws->sourceKind = SourceKind::Zip;
  ws->archivePath = q(folder / "a.zip");
  EXPECT_FALSE(loadFromEntry(*ws, entryFor(list->entries[0])));
  EXPECT_FALSE(ws->image.pixels);
  EXPECT_FALSE(loadFromEntry(*ws, entryFor(list->entries[1])));
  EXPECT_TRUE(loadFromEntry(*ws, entryFor(list->entries[2])));
  EXPECT_EQ(ws->image.workWidth, 15);
  ws->archivePath = q(folder / "missing.zip");
  EXPECT_FALSE(loadFromEntry(*ws, entryFor(list->entries[2])));
}

TEST(ArchiveInput, ConformanceZipImagesLoad) {
  ConversionSettings settings;
  settings.OFmt = 0;
  auto ws = createJobWorkspace(settings);
  ws->sourceKind = SourceKind::Zip;
  int loaded = 0;
  for (const char* name : {"stored.zip", "deflated.zip", "data_descriptor_stored.zip", "uppercase_ext.zip"}) {
    ws->archivePath = q(test::testdata(std::string("zip/generated/") + name));
    const auto list = listZip(ws->archivePath);
    ASSERT_TRUE(list) << name;
    for (const MemberEntry& member : list->entries) {
      // Only the formats whose readers are built so far must load; the rest fail cleanly.
      const bool isBmp = member.fileName.endsWith(".bmp", Qt::CaseInsensitive) ||
                         member.fileName.endsWith(".png", Qt::CaseInsensitive);
      const bool ok = loadFromEntry(*ws, entryFor(member));
      if (isBmp) {
        EXPECT_TRUE(ok) << name << " " << member.fileName.toStdString();
      }
      loaded += ok;
    }
  }
  EXPECT_GE(loaded, 10);
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
  ws->pluginFolder = QStringLiteral(VELORIN_BINARY_DIR "/bin/plugins");
  ws->archivePath = q(test::testdata("rar/rar-test-files/testfile.rar5.cbr"));
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

namespace velorin {
namespace {

const QString kShippedPlugins = QStringLiteral(VELORIN_BINARY_DIR "/bin/plugins");

struct NamedFile {
  std::string name;
  std::vector<uint8_t> bytes;
};

void write7z(const std::filesystem::path& path, const std::vector<NamedFile>& files) {
  archive* writer = archive_write_new();
  archive_write_set_format_7zip(writer);
  archive_write_open_filename(writer, path.c_str());
  for (const NamedFile& f : files) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, f.name.c_str());
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, static_cast<la_int64_t>(f.bytes.size()));
    archive_entry_set_mtime(entry, 1600000000, 0);
    archive_write_header(writer, entry);
    archive_write_data(writer, f.bytes.data(), f.bytes.size());
    archive_entry_free(entry);
  }
  archive_write_close(writer);
  archive_write_free(writer);
}

uint16_t crc16(const std::vector<uint8_t>& bytes) {
  uint16_t crc = 0;
  for (const uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

// An LHA archive of stored ("-lh0-") members with level-0 headers.
std::vector<uint8_t> makeLzh(const std::vector<NamedFile>& files) {
  test::Bytes lzh;
  for (const NamedFile& f : files) {
    test::Bytes header;
    header.text("-lh0-").le32(static_cast<uint32_t>(f.bytes.size())).le32(static_cast<uint32_t>(f.bytes.size()));
    header.le16(3 << 11).le16((40 << 9) | (1 << 5) | 2).u8(0x20).u8(0);
    header.u8(static_cast<uint32_t>(f.name.size())).text(f.name).le16(crc16(f.bytes));
    uint8_t sum = 0;
    for (const uint8_t b : header.data) sum = static_cast<uint8_t>(sum + b);
    lzh.u8(static_cast<uint32_t>(header.data.size())).u8(sum);
    lzh.data.insert(lzh.data.end(), header.data.begin(), header.data.end());
    lzh.data.insert(lzh.data.end(), f.bytes.begin(), f.bytes.end());
  }
  lzh.u8(0);
  return lzh.data;
}

TEST(PluginArchiveInput, SevenZipAndLzhMembersConvertLikeFolderFiles) {
  test::TempFolder folder;
  std::vector<NamedFile> files;
  for (int i = 0; i < 6; ++i) {
    files.push_back({"p" + std::to_string(i) + ".bmp", picture(i + 3)});
    test::writeBytes(folder / files.back().name, files.back().bytes);
  }
  write7z(folder / "set.7z", files);
  test::writeBytes(folder / "set.lzh", makeLzh(files));
  ConversionSettings settings;
  settings.OFmt = 0;
  for (const char* archiveName : {"set.7z", "set.lzh"}) {
    auto fromArchive = createJobWorkspace(settings);
    auto fromFolder = createJobWorkspace(settings);
    fromArchive->sourceKind = SourceKind::PluginArchive;
    fromArchive->pluginFolder = kShippedPlugins;
    fromArchive->archivePath = q(folder / archiveName);
    PluginHost host;
    host.pluginFolder = kShippedPlugins;
    ASSERT_TRUE(isPluginArchive(host, fromArchive->archivePath)) << archiveName;
    const auto list = listArchiveWithPlugin(host, fromArchive->archivePath);
    ASSERT_TRUE(list) << archiveName;
    ASSERT_EQ(list->entries.size(), files.size());
    for (const MemberEntry& member : list->entries) {
      const FileEntry entry = entryFor(member);
      PendingFile outFolder, outArchive;
      ASSERT_TRUE(convertFile(*fromFolder, nullptr, q(folder / member.fileName.toStdString()), outFolder));
      ASSERT_TRUE(convertFile(*fromArchive, &entry, QString(), outArchive)) << archiveName << " " << member.fileName.toStdString();
      EXPECT_EQ(fileBytes(outFolder.path()), fileBytes(outArchive.path()));
    }
  }
}

TEST(PluginFallback, NetpbmFilesConvertThroughThePlugins) {
  test::TempFolder folder;
  const std::string ppm = "P3\n2 2\n255\n255 0 0 0 255 0\n0 0 255 9 9 9\n";
  test::writeBytes(folder / "a.ppm", {ppm.begin(), ppm.end()});
  ConversionSettings settings;
  settings.OFmt = 0;
  auto ws = createJobWorkspace(settings);
  PendingFile out;
  EXPECT_FALSE(convertFile(*ws, nullptr, q(folder / "a.ppm"), out));  // no plug-in folder
  ws->pluginFolder = kShippedPlugins;
  ASSERT_TRUE(convertFile(*ws, nullptr, q(folder / "a.ppm"), out));
  EXPECT_EQ(ws->image.workWidth, 2);
  EXPECT_EQ(ws->image.sourceFormat, 0);
}

TEST(PluginFallback, AFileTheBuiltInReaderRefusesIsOfferedToThePlugins) {
  test::TempFolder folder;
  const auto log = folder / "loads.log";
  setenv("VELORIN_TEST_PLUGIN_LOG", log.c_str(), 1);
  // A TIFF signature the TIFF reader cannot take, and the test picture 128 bytes later.
  test::Bytes file;
  file.text("II").u8(0x2A).u8(0).le32(8).le16(0).zeros(118);
  file.text("TSTI").le32(1).le32(1).le16(24).le16(0).le32(0).le32(40).le32(0).le32(4).u8(1).u8(2).u8(3).u8(0);
  test::writeBytes(folder / "odd.tif", file.data);
  ConversionSettings settings;
  settings.OFmt = 0;
  auto ws = createJobWorkspace(settings);
  ws->pluginFolder = QStringLiteral(VELORIN_BINARY_DIR "/test-plugins/spi");
  EXPECT_TRUE(loadFromPath(*ws, q(folder / "odd.tif")));
  EXPECT_EQ(ws->image.sourceFormat, 0);
  EXPECT_EQ(ws->image.workBitCount, 24);
  // A real compressed TIFF no plug-in reads: offered, refused, failed cleanly.
  const auto tiff = test::testdata("tiff/libtiff");
  for (const auto& f : std::filesystem::directory_iterator(tiff)) {
    if (f.path().extension() != ".tif" && f.path().extension() != ".tiff") continue;
    std::filesystem::remove(log);
    if (!loadFromPath(*ws, q(f.path()))) {
      EXPECT_FALSE(ws->image.pixels);
      EXPECT_NE(test::readBytes(log).size(), 0u);
    }
    break;
  }
  ws->pluginFolder = QStringLiteral("/nonexistent");
  std::filesystem::remove(log);
  EXPECT_FALSE(loadFromPath(*ws, q(folder / "odd.tif")));
  EXPECT_FALSE(std::filesystem::exists(log));
  unsetenv("VELORIN_TEST_PLUGIN_LOG");
}

}  // namespace
}  // namespace velorin

namespace velorin {
namespace {

TEST(ArchiveMembers, EveryKindListsAsFileEntries) {
  test::TempFolder folder;
  test::writeBytes(folder / "a.zip", test::makeZip({{"sub/", {}, 0}, {"sub/x.bmp", picture(1)}, {"y.bmp", picture(2)}}));
  ArchiveAccess access;
  access.pluginFolder = QStringLiteral(VELORIN_BINARY_DIR "/bin/plugins");
  std::vector<FileEntry> members;
  FileTime archiveTime = 0;
  ASSERT_TRUE(listArchiveMembers(access, SourceKind::Zip, q(folder / "a.zip"), members, &archiveTime));
  ASSERT_EQ(members.size(), 2u);  // the folder entry is left out
  EXPECT_EQ(members[0].folder, "sub/");
  EXPECT_EQ(members[0].name, "x.bmp");
  EXPECT_EQ(members[1].size, picture(2).size());
  EXPECT_GT(archiveTime, 0);

  write7z(folder / "b.7z", {{"p/q.bmp", picture(3)}});
  ASSERT_TRUE(listArchiveMembers(access, SourceKind::PluginArchive, q(folder / "b.7z"), members));
  ASSERT_EQ(members.size(), 1u);
  EXPECT_EQ(members[0].folder, "p/");
  EXPECT_TRUE(pluginArchiveAccepts(access, q(folder / "b.7z")));
  EXPECT_FALSE(pluginArchiveAccepts(access, q(folder / "a.zip")));
  access.disabledPlugins = {QStringLiteral("archives.spi")};
  EXPECT_FALSE(listArchiveMembers(access, SourceKind::PluginArchive, q(folder / "b.7z"), members));

  access.pluginFolder = QStringLiteral(VELORIN_BINARY_DIR "/bin/plugins");
  ASSERT_TRUE(listArchiveMembers(access, SourceKind::Rar, q(test::testdata("rar/rar-test-files/testfile.rar5.cbr")), members));
  EXPECT_EQ(members.size(), 2u);
  EXPECT_FALSE(listArchiveMembers(access, SourceKind::Zip, q(folder / "missing.zip"), members));
  EXPECT_TRUE(members.empty());
}

}  // namespace
}  // namespace velorin

namespace velorin {
namespace {

TEST(ArchiveInput, TwentyJpegMembersConvertLikeTheSameFiles) {
  std::vector<std::filesystem::path> jpegs;
  for (const char* folder : {"jpeg/exif-orientation-examples", "jpeg/libjpeg-turbo", "jpeg/exif-samples"})
    for (const auto& f : std::filesystem::directory_iterator(test::testdata(folder)))
      if (f.path().extension() == ".jpg") jpegs.push_back(f.path());
  std::sort(jpegs.begin(), jpegs.end());
  ASSERT_GE(jpegs.size(), 20u);
  jpegs.resize(20);
  ConversionSettings settings;
  settings.OFmt = 0;
  auto fromFolder = createJobWorkspace(settings);

  test::TempFolder folder;
  std::vector<test::ZipMember> members;
  for (const auto& path : jpegs) members.push_back({"jpeg/" + path.filename().string(), test::readBytes(path)});
  test::writeBytes(folder / "jpegs.zip", test::makeZip(members));
  auto fromZip = createJobWorkspace(settings);
  fromZip->sourceKind = SourceKind::Zip;
  fromZip->archivePath = q(folder / "jpegs.zip");
  const auto list = listZip(fromZip->archivePath);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->entries.size(), 20u);
  for (size_t i = 0; i < jpegs.size(); ++i) {
    const FileEntry entry = entryFor(list->entries[i]);
    PendingFile outFolder, outZip;
    const bool folderOk = convertFile(*fromFolder, nullptr, q(jpegs[i]), outFolder);
    EXPECT_EQ(convertFile(*fromZip, &entry, QString(), outZip), folderOk) << jpegs[i];
    if (folderOk) {
      EXPECT_EQ(fileBytes(outFolder.path()), fileBytes(outZip.path())) << jpegs[i];
    }
  }
}

}  // namespace
}  // namespace velorin

namespace velorin {
namespace {

TEST(ArchiveMembers, AZipBecomesAFilteredSortedFileList) {
  test::TempFolder folder;
  test::writeBytes(folder / "a.zip", test::makeZip({{"z.jpg", picture(1)}, {"sub/a.JPG", picture(2)},
                                                   {"notes.txt", test::bytesOf("text")}, {"sub/", {}, 0}}));
  ArchiveAccess access;
  FileList list;
  list.setMemberLister(memberListerFor(access));
  ConversionSettings settings;
  settings.IFmt = 0;
  ASSERT_TRUE(list.setInputPath(q(folder / "a.zip"), ListOptions::from(settings, 2)));
  EXPECT_EQ(list.kind(), SourceKind::Zip);
  ASSERT_EQ(list.entries().size(), 2u);
  EXPECT_EQ(list.entries()[0].displayName(), "z.jpg");
  EXPECT_EQ(list.entries()[1].displayName(), "sub/a.JPG");
  EXPECT_NE(list.archiveTime(), 0);
  EXPECT_TRUE(list.keepInStep());
}

}  // namespace
}  // namespace velorin

namespace velorin {
namespace {

TEST(InputPaths, EachPathIsTakenForWhatItIs) {
  test::TempFolder folder;
  test::writeBytes(folder / "a.ZIP", test::makeZip({{"y.bmp", picture(2)}}));
  test::writeBytes(folder / "b.rar", {'R', 'a', 'r'});  // known by its name, read only later
  write7z(folder / "c.7z", {{"q.bmp", picture(3)}});
  test::writeBytes(folder / "d.bmp", picture(4));
  test::writeBytes(folder / "e.7z", {'n', 'o', 't', ' ', '7', 'z'});
  ArchiveAccess access;
  access.pluginFolder = kShippedPlugins;
  const std::vector<ClassifiedInput> inputs = classifyInputs(
      {q(folder.path()), q(folder / "a.ZIP"), q(folder / "b.rar"), q(folder / "c.7z"), q(folder / "d.bmp"),
       q(folder / "e.7z"), q(folder / "missing.zip")},
      access);
  std::vector<InputKind> kinds;
  for (const ClassifiedInput& input : inputs) kinds.push_back(input.kind);
  EXPECT_EQ(kinds, (std::vector<InputKind>{InputKind::Folder, InputKind::Archive, InputKind::Archive,
                                           InputKind::PluginArchive, InputKind::File, InputKind::File,
                                           InputKind::Missing}));
  EXPECT_EQ(inputs[3].path, q(folder / "c.7z"));

  access.disabledPlugins = {QStringLiteral("archives.spi")};
  EXPECT_EQ(inputKindOf(q(folder / "c.7z"), access), InputKind::File);
}

}  // namespace
}  // namespace velorin
