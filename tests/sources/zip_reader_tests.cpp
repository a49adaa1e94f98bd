#include "sources/zip_reader.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>

#include <chrono>
#include <map>

#include "sources/zip_writer.h"
#include "support/qt_test_support.h"

namespace velorin {
namespace {

using test::bytesOf;
using test::makeZip;
using test::ZipMember;

using test::q;

struct ZipFixture {
  test::TempFolder folder;
  QString path;
  explicit ZipFixture(const std::vector<uint8_t>& bytes) {
    test::writeBytes(folder / "a.zip", bytes);
    path = q(folder / "a.zip");
  }
};

std::vector<uint8_t> blockBytes(const PixelBuffer& block) {
  return {block.data(), block.data() + block.size()};
}

std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 13);
  return v;
}

QStringList namesOf(const MemberList& list) {
  QStringList names;
  for (const MemberEntry& e : list.entries) names << e.folder + e.fileName;
  return names;
}

TEST(ZipEndRecord, CommentsAreFoundByTheBackwardsSearch) {
  const std::vector<ZipMember> members = {{"a.bin", pattern(300)}, {"b.bin", pattern(70000), 0}};
  for (const size_t commentLength : {size_t{0}, size_t{1000}, size_t{65535}}) {
    const std::string comment(commentLength, 'c');
    // One small archive (shorter than the search window) and one larger than it.
    for (const size_t members_ : {size_t{1}, size_t{2}}) {
      const std::vector<ZipMember> use(members.begin(), members.begin() + members_);
      const auto bytes = makeZip(use, comment);
      const MemoryArchiveSource source(bytes.data(), bytes.size());
      std::vector<ZipRecord> records;
      uint32_t skipped = 9;
      ASSERT_TRUE(listZipRecords(source, records, skipped)) << commentLength << " " << members_;
      EXPECT_EQ(records.size(), members_);
      EXPECT_EQ(skipped, 0u);
    }
  }
  for (const char* name : {"comment_1000_small.zip", "comment_1000_large.zip", "comment_65535.zip"}) {
    const auto list = listZip(q(test::testdata(std::string("zip/generated/") + name)));
    ASSERT_TRUE(list) << name;
    EXPECT_GE(list->entries.size(), 2u) << name;
  }
}

TEST(ZipEndRecord, ACommentHoldingAFakeRecordDoesNotHideTheRealOne) {
  std::string comment = "fake end record follows: PK\x05\x06";
  comment += std::string(18, '\0') + " end of comment";
  const auto bytes = makeZip({{"a.bin", pattern(10)}, {"b.bin", pattern(20)}}, comment);
  const MemoryArchiveSource source(bytes.data(), bytes.size());
  std::vector<ZipRecord> records;
  uint32_t skipped = 0;
  ASSERT_TRUE(listZipRecords(source, records, skipped));
  EXPECT_EQ(records.size(), 2u);

  const auto list = listZip(q(test::testdata("zip/generated/comment_eocd_lookalike.zip")));
  ASSERT_TRUE(list);
  EXPECT_EQ(namesOf(*list), QStringList({"basn2c08.png", "basn3p08.png"}));
}

TEST(ZipEndRecord, DamagedArchivesFailWithoutAList) {
  const auto good = makeZip({{"a.bin", pattern(10)}});
  std::vector<ZipRecord> records;
  uint32_t skipped = 0;
  for (size_t cut : {size_t{0}, size_t{21}, good.size() - 1}) {
    const MemoryArchiveSource source(good.data(), cut);
    EXPECT_FALSE(listZipRecords(source, records, skipped)) << cut;
    EXPECT_TRUE(records.empty());
  }
  auto badDirectory = good;
  badDirectory[badDirectory.size() - 22 - 46 - 5] ^= 0xFF;  // central record signature of "a.bin"
  const MemoryArchiveSource source(badDirectory.data(), badDirectory.size());
  EXPECT_FALSE(listZipRecords(source, records, skipped));
  EXPECT_FALSE(listZip(q(test::testdata("zip/generated/empty.zip"))));
  EXPECT_FALSE(listZip(q(test::testdata("zip/libarchive/test_read_format_zip_malformed1.zip"))));
  EXPECT_FALSE(listZip(QStringLiteral("/nonexistent/archive.zip")));
}

TEST(ZipListing, OtherMethodsAreSkippedAndCounted) {
  ZipFixture zip(makeZip({{"stored.png", pattern(5), 0}, {"b.bmp", pattern(5), 12}, {"d.jpg", pattern(9), 8},
                          {"l.gif", pattern(5), 14}}));
  uint32_t skipped = 0;
  auto list = listZip(zip.path, &skipped);
  ASSERT_TRUE(list);
  EXPECT_EQ(namesOf(*list), QStringList({"stored.png", "d.jpg"}));
  EXPECT_EQ(skipped, 2u);
  EXPECT_EQ(list->capacity, 4u);
  EXPECT_EQ(list->entries[1].size, 9u);

  ZipFixture onlyBzip2(makeZip({{"a.png", pattern(5), 12}, {"b.png", pattern(5), 12}}));
  EXPECT_FALSE(listZip(onlyBzip2.path, &skipped));
  EXPECT_FALSE(listZip(q(test::testdata("zip/generated/bzip2_only.zip"))));
  list = listZip(q(test::testdata("zip/generated/mixed_methods.zip")), &skipped);
  ASSERT_TRUE(list);
  EXPECT_EQ(namesOf(*list), QStringList({"stored.png", "deflated.jpg"}));
  EXPECT_EQ(skipped, 2u);
}

TEST(ZipListing, NamesSplitIntoFolderAndFileName) {
  ZipFixture zip(makeZip({{"photos/", {}, 0}, {"photos/2009/summer/x.png", pattern(3)},
                          {"top.gif", pattern(3)}, {"arc\\test", pattern(3), 0}}));
  const auto list = listZip(zip.path);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->entries.size(), 4u);
  EXPECT_EQ(list->entries[0].folder, "photos/");
  EXPECT_EQ(list->entries[0].fileName, "");
  EXPECT_EQ(list->entries[1].folder, "photos/2009/summer/");
  EXPECT_EQ(list->entries[1].fileName, "x.png");
  EXPECT_EQ(list->entries[2].folder, "");
  EXPECT_EQ(list->entries[2].fileName, "top.gif");
  EXPECT_EQ(list->entries[3].folder, "arc/");
  EXPECT_EQ(list->entries[3].fileName, "test");
  // The position finds the member again.
  PixelBuffer block;
  ASSERT_TRUE(extractZip(zip.path, list->entries[1].position, block));
  EXPECT_EQ(blockBytes(block), pattern(3));

  const auto nested = listZip(q(test::testdata("zip/generated/nested_folders.zip")));
  ASSERT_TRUE(nested);
  EXPECT_TRUE(namesOf(*nested).contains("photos/2009/summer/testorig.jpg"));
}

TEST(ZipListing, MemberTimesAreLocalDosTimesTurnedIntoUtc) {
  ZipFixture zip(makeZip({{"a.bin", pattern(3)}}));
  const auto list = listZip(zip.path);
  ASSERT_TRUE(list);
  const QDateTime local(QDate(2020, 1, 2), QTime(3, 4, 6), Qt::LocalTime);
  EXPECT_EQ(list->entries[0].fileTime, local.toMSecsSinceEpoch() * 10000 + 116444736000000000);
  EXPECT_EQ(dosTimeToFileTime(0, 0), 0);  // month 0 does not exist
  EXPECT_GT(list->archiveTime, 0);
}

TEST(ZipNames, FlaggedNamesAreUtf8AndOthersFollowTheLocaleOrCodePage437) {
  ZipRecord record;
  record.name = "\xE5\x86\x99\xE7\x9C\x9F/x.png";  // "写真/x.png" in UTF-8
  record.utf8Flag = true;
  EXPECT_EQ(decodeZipName(record, "ISO-8859-1"), QString::fromUtf8("写真/x.png"));
  record.utf8Flag = false;
  EXPECT_EQ(decodeZipName(record, "UTF-8"), QString::fromUtf8("写真/x.png"));
  record.name = "\x83\x5C\x81\x5B\x83\x58.bmp";  // "ソース.bmp" in Shift-JIS: 0x5C inside
  EXPECT_EQ(decodeZipName(record, "Shift_JIS"), QString::fromUtf8("ソース.bmp"));
  // Not valid UTF-8: the original ZIP code page, byte for byte.
  EXPECT_EQ(decodeZipName(record, "UTF-8"), QString::fromUtf8("â\\ü[âX.bmp"));
  record.unicodeName = "caf\xC3\xA9.jpg";
  EXPECT_EQ(decodeZipName(record, "UTF-8"), QString::fromUtf8("café.jpg"));
  // A name cut inside a UTF-8 sequence loses the broken tail only.
  record = {};
  record.utf8Flag = true;
  record.name = "ab\xE5\x86";
  EXPECT_EQ(decodeZipName(record, "UTF-8"), "ab");
}

TEST(ZipNames, ConformanceArchivesDecode) {
  auto list = listZip(q(test::testdata("zip/generated/utf8_names.zip")));
  ASSERT_TRUE(list);
  EXPECT_TRUE(namesOf(*list).contains(QString::fromUtf8("写真/テスト画像.png")));
  EXPECT_TRUE(namesOf(*list).contains(QString::fromUtf8("Café/été.jpg")));
  list = listZip(q(test::testdata("zip/libarchive/test_read_format_zip_7075_utf8_paths.zip")));
  ASSERT_TRUE(list);
  for (const MemberEntry& e : list->entries) EXPECT_FALSE((e.folder + e.fileName).contains(QChar(0xFFFD)));
  // Shift-JIS names keep their 0x5C trail byte inside the character, not as a separator.
  const auto sjis = listZip(q(test::testdata("zip/generated/sjis_names.zip")));
  ASSERT_TRUE(sjis);
  std::vector<ZipRecord> records;
  uint32_t skipped = 0;
  FileArchiveSource source;
  ASSERT_TRUE(source.open(test::testdata("zip/generated/sjis_names.zip")));
  ASSERT_TRUE(listZipRecords(source, records, skipped));
  QStringList names;
  for (const ZipRecord& r : records) names << decodeZipName(r, "Shift_JIS");
  EXPECT_TRUE(names.contains(QString::fromUtf8("ソース.bmp")));
  EXPECT_TRUE(names.contains(QString::fromUtf8("写真/テスト画像.png")));
}

TEST(ZipExtraction, StoredDeflatedAndDescriptorMembersComeBackWhole) {
  const auto big = pattern(200000);
  ZipFixture zip(makeZip({{"s.bin", big, 0}, {"d.bin", big, 8}, {"dd.bin", big, 8, true}, {"ds.bin", big, 0, true},
                          {"empty.png", {}, 0}, {"emptyd.png", {}, 8}}));
  const auto list = listZip(zip.path);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->entries.size(), 6u);
  for (size_t i = 0; i < 4; ++i) {
    PixelBuffer block;
    ASSERT_TRUE(extractZip(zip.path, list->entries[i].position, block)) << i;
    EXPECT_EQ(blockBytes(block), big) << i;
  }
  for (size_t i = 4; i < 6; ++i) {
    PixelBuffer block;
    ASSERT_TRUE(extractZip(zip.path, list->entries[i].position, block)) << i;
    EXPECT_EQ(block.size(), 0u);
    EXPECT_TRUE(block.data() != nullptr);
  }
  PixelBuffer block;
  EXPECT_FALSE(extractZip(zip.path, list->entries[1].position + 1, block));  // no local header there
  EXPECT_FALSE(block);
}

TEST(ZipExtraction, ConformanceMembersMatchTheirSourceFiles) {
  const std::map<QString, std::string> sources = {
      {"basn2c08.png", "png/pngsuite/basn2c08.png"},
      {"basn3p08.png", "png/pngsuite/basn3p08.png"},
      {"testorig.jpg", "jpeg/libjpeg-turbo/testorig.jpg"},
      {"rgb24.bmp", "bmp/bmpsuite/g/rgb24.bmp"}};
  for (const char* name : {"data_descriptor_deflated.zip", "data_descriptor_stored.zip", "stored.zip", "deflated.zip"}) {
    const QString path = q(test::testdata(std::string("zip/generated/") + name));
    const auto list = listZip(path);
    ASSERT_TRUE(list) << name;
    int compared = 0;
    for (const MemberEntry& e : list->entries) {
      const auto source = sources.find(e.fileName);
      if (source == sources.end()) continue;
      PixelBuffer block;
      ASSERT_TRUE(extractZip(path, e.position, block)) << name << " " << e.fileName.toStdString();
      EXPECT_EQ(blockBytes(block), test::readBytes(test::testdata(source->second)));
      EXPECT_EQ(block.size(), e.size);
      ++compared;
    }
    EXPECT_GE(compared, 3) << name;
  }
}

TEST(ZipExtraction, ABadCrcIsRefused) {
  ZipFixture zip(makeZip({{"bad.png", pattern(1000), 0, false, 0, 1}, {"badd.png", pattern(1000), 8, false, 0, 1},
                          {"good.png", pattern(1000), 8}}));
  const auto list = listZip(zip.path);
  ASSERT_TRUE(list);
  PixelBuffer block;
  EXPECT_FALSE(extractZip(zip.path, list->entries[0].position, block));
  EXPECT_FALSE(extractZip(zip.path, list->entries[1].position, block));
  EXPECT_TRUE(extractZip(zip.path, list->entries[2].position, block));

  const QString conformance = q(test::testdata("zip/generated/crc_mismatch.zip"));
  const auto mismatch = listZip(conformance);
  ASSERT_TRUE(mismatch);
  for (const MemberEntry& e : mismatch->entries)
    EXPECT_EQ(extractZip(conformance, e.position, block), e.fileName == "goodcrc.jpg") << e.fileName.toStdString();
}

// A deflate stream longer than the recorded size yields the recorded bytes (their CRC decides);
// a shorter one is refused even when its CRC matches what it produced.
TEST(ZipExtraction, StreamsThatDoNotEndAtTheRecordedSize) {
  const auto data = pattern(50000);
  const std::vector<uint8_t> head(data.begin(), data.begin() + 30000);
  const auto crcOf = [](const std::vector<uint8_t>& bytes) {
    return static_cast<uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
  };
  std::vector<ZipMember> members = {{"longer.bin", data}, {"shorter.bin", head}};
  members[0].declaredSize = 30000;
  members[0].crcXor = crcOf(data) ^ crcOf(head);
  members[1].declaredSize = 50000;
  std::vector<uint8_t> zeroFilled = head;
  zeroFilled.resize(50000, 0);
  members[1].crcXor = crcOf(head) ^ crcOf(zeroFilled);
  ZipFixture zip(makeZip(members));
  const auto list = listZip(zip.path);
  ASSERT_TRUE(list);
  PixelBuffer block;
  ASSERT_TRUE(extractZip(zip.path, list->entries[0].position, block));
  EXPECT_EQ(blockBytes(block), head);
  EXPECT_FALSE(extractZip(zip.path, list->entries[1].position, block));
  EXPECT_FALSE(block);
}

TEST(ZipExtraction, AbsurdSizesAreRefusedBeforeAllocating) {
  const auto start = std::chrono::steady_clock::now();
  // Tiny compressed data declaring sizes no deflate stream can reach, the ZIP64 marker, and a
  // stored member longer than the archive.
  std::vector<ZipMember> hostile = {{"bomb.png", std::vector<uint8_t>(100, 0)}, {"zip64.png", pattern(10)},
                                    {"long.png", pattern(100), 0}};
  hostile[0].declaredSize = 0xFFFFFFF0;
  hostile[1].declaredSize = 0xFFFFFFFF;
  hostile[2].declaredSize = 5000000;
  ZipFixture bad(makeZip(hostile));
  const auto list = listZip(bad.path);
  ASSERT_TRUE(list);
  for (const MemberEntry& e : list->entries) {
    PixelBuffer block;
    EXPECT_FALSE(extractZip(bad.path, e.position, block)) << e.fileName.toStdString();
    EXPECT_FALSE(block);
  }
  // A real bomb: 50 MB of zeros that does decompress, declared 1000 times larger.
  ZipMember zeros{"zeros.bin", std::vector<uint8_t>(50'000'000, 0)};
  const auto packed = test::rawDeflate(zeros.data);
  zeros.declaredSize = static_cast<int64_t>(packed.size()) * 2000;
  ZipFixture bomb(makeZip({zeros}));
  const auto bombList = listZip(bomb.path);
  ASSERT_TRUE(bombList);
  PixelBuffer block;
  EXPECT_FALSE(extractZip(bomb.path, bombList->entries[0].position, block));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

// Every conformance archive lists or fails cleanly, and every listed member extracts or fails
// cleanly; the sanitizer build turns any stray access into a failure here.
TEST(ZipConformance, EveryArchiveIsHandledWithoutHarm) {
  int listed = 0, extracted = 0;
  for (const char* folder : {"zip/generated", "zip/libarchive"}) {
    for (const auto& file : std::filesystem::directory_iterator(test::testdata(folder))) {
      if (file.path().extension() != ".zip") continue;
      const QString path = q(file.path());
      const auto list = listZip(path);
      if (!list) continue;
      ++listed;
      for (const MemberEntry& e : list->entries) {
        PixelBuffer block;
        if (extractZip(path, e.position, block)) ++extracted;
      }
    }
  }
  EXPECT_GE(listed, 35);
  EXPECT_GE(extracted, 80);
}

}  // namespace
}  // namespace velorin
