#include <gtest/gtest.h>

#include <QDir>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "settings/settings_file.h"
#include "settings/settings_store.h"
#include "slot_file_builder.h"

namespace velorin {
namespace {

using test::le32At;
using test::q;
using test::SlotFileBuilder;
using test::TempFolder;

TEST(SettingsFile, WriterLaysOutHeaderDirectoryAndBlocks) {
  TempFolder folder;
  const QString path = q(folder / "Velorin.ini");
  SettingsWriter writer;
  ASSERT_TRUE(writer.open(path));
  writer.putInt(1, -7);
  writer.putString(0, QStringLiteral("ab"));
  writer.putStringList(54, {QStringLiteral("x"), QStringLiteral("yz")});
  writer.putBlock(394, QByteArray("\x01\x00", 2));
  writer.putString(16, QString());  // empty string = empty slot
  ASSERT_TRUE(writer.close());

  const std::vector<uint8_t> b = test::readBytes(folder / "Velorin.ini");
  ASSERT_EQ(b.size(), 3172u + 4 + 10 + 2);
  EXPECT_EQ((std::vector<uint8_t>(b.begin(), b.begin() + 4)), (std::vector<uint8_t>{0x8C, 0x01, 0x01, 0x00}));
  EXPECT_EQ(le32At(b, 4 + 8 * 1), 1u);
  EXPECT_EQ(le32At(b, 4 + 8 * 1 + 4), 0xFFFFFFF9u);
  EXPECT_EQ(le32At(b, 4 + 8 * 0), 3172u);  // blocks in writing order from the end of the directory
  EXPECT_EQ(le32At(b, 4 + 8 * 0 + 4), 4u);
  EXPECT_EQ(le32At(b, 4 + 8 * 54), 3176u);
  EXPECT_EQ(le32At(b, 4 + 8 * 54 + 4), 10u);  // "x\0yz\0" in UTF-16
  EXPECT_EQ(le32At(b, 4 + 8 * 394), 3186u);
  EXPECT_EQ(le32At(b, 4 + 8 * 16), 0u);
  EXPECT_EQ(le32At(b, 4 + 8 * 16 + 4), 0u);
  EXPECT_EQ((std::vector<uint8_t>(b.begin() + 3172, b.begin() + 3176)), (std::vector<uint8_t>{'a', 0, 'b', 0}));

  SettingsReader reader(path);
  ASSERT_TRUE(reader.valid());
  EXPECT_EQ(reader.intValue(1, 0), -7);
  QString text;
  EXPECT_EQ(reader.string(0, text), SlotText::Known);
  EXPECT_EQ(text, QStringLiteral("ab"));
  QStringList list;
  reader.stringList(54, list);
  EXPECT_EQ(list, (QStringList{QStringLiteral("x"), QStringLiteral("yz")}));
  QByteArray bytes;
  reader.block(394, bytes);
  EXPECT_EQ(bytes, QByteArray("\x01\x00", 2));
  EXPECT_EQ(reader.string(16, text), SlotText::Known);
  EXPECT_TRUE(text.isEmpty());
  // Kinds do not mix: a string slot has no integer, an integer slot no string.
  EXPECT_EQ(reader.intValue(0, 99), 99);
  EXPECT_EQ(reader.string(1, text), SlotText::Known);
  EXPECT_TRUE(text.isEmpty());
}

TEST(SettingsFile, CountAboveTheSlotTableIsReadAs396) {
  TempFolder folder;
  SlotFileBuilder file;
  file.count = 500;
  file.ints = {{10, 42}, {395, 7}, {450, 9}};
  file.strings = {{0, u"Hi"}};  // lies after the 500-entry directory, at 4004
  file.writeTo(folder / "s.ini");

  SettingsReader reader(q(folder / "s.ini"));
  ASSERT_TRUE(reader.valid());
  EXPECT_EQ(reader.slotCount(), 396);
  EXPECT_EQ(reader.intValue(10, 0), 42);
  EXPECT_EQ(reader.intValue(395, 0), 7);
  EXPECT_EQ(reader.intValue(450, -1), -1);
  QString text;
  reader.string(0, text);
  EXPECT_EQ(text, QStringLiteral("Hi"));

  // Saving keeps the block: the old data area starts after the directory as stored.
  SettingsWriter writer;
  ASSERT_TRUE(writer.open(q(folder / "s.ini")));
  writer.putInt(1, 5);
  ASSERT_TRUE(writer.close());
  SettingsReader again(q(folder / "s.ini"));
  again.string(0, text);
  EXPECT_EQ(text, QStringLiteral("Hi"));
  EXPECT_EQ(again.intValue(10, 0), 42);
  EXPECT_EQ(again.intValue(1, 0), 5);
}

TEST(SettingsFile, SmallerCountLeavesHigherSlotsUnknown) {
  TempFolder folder;
  SlotFileBuilder file;
  file.count = 100;
  file.ints = {{99, 5}};
  file.writeTo(folder / "s.ini");
  SettingsReader reader(q(folder / "s.ini"));
  ASSERT_TRUE(reader.valid());
  EXPECT_EQ(reader.intValue(99, 0), 5);
  EXPECT_EQ(reader.intValue(100, 3), 3);
  QString text = QStringLiteral("stale");
  EXPECT_EQ(reader.string(150, text), SlotText::Unknown);
  EXPECT_TRUE(text.isEmpty());
  EXPECT_EQ(reader.string(50, text), SlotText::Known);
}

TEST(SettingsFile, BlocksOutsideTheDataAreaReadAsEmpty) {
  TempFolder folder;
  SlotFileBuilder file;
  file.strings = {{0, u"good"}};
  file.rawEntries = {
      {1, {100000, 4}},        // past the end of the file
      {2, {40, 8}},            // inside the directory
      {3, {3172, 0xFFFFFFF0}},  // longer than the data area
      {4, {3174, 8}},          // starts inside, runs past the end
  };
  file.writeTo(folder / "s.ini");
  SettingsReader reader(q(folder / "s.ini"));
  ASSERT_TRUE(reader.valid());
  for (int slot = 1; slot <= 4; ++slot) {
    QByteArray bytes("x");
    EXPECT_EQ(reader.block(slot, bytes), SlotText::Known) << slot;
    EXPECT_TRUE(bytes.isEmpty()) << slot;
  }
  QString text;
  reader.string(0, text);
  EXPECT_EQ(text, QStringLiteral("good"));
}

TEST(SettingsFile, CutShortOrMissingFilesGiveDefaults) {
  TempFolder folder;
  std::vector<uint8_t> bytes = SlotFileBuilder{}.build();
  bytes.resize(1000);  // the directory ends early
  test::writeBytes(folder / "short.ini", bytes);
  test::writeBytes(folder / "tiny.ini", {0x8C, 0x01});
  for (const char* name : {"short.ini", "tiny.ini", "missing.ini"}) {
    SettingsReader reader(q(folder / name));
    EXPECT_FALSE(reader.valid()) << name;
    QString text;
    EXPECT_EQ(reader.string(0, text), SlotText::Unknown) << name;
    EXPECT_EQ(reader.intValue(1, 200), 200) << name;
  }
}

TEST(SettingsFile, FlagsUseOnlyBitZero) {
  TempFolder folder;
  SlotFileBuilder file;
  file.ints = {{4, 2}, {5, 3}, {6, 0}};
  file.writeTo(folder / "s.ini");
  SettingsReader reader(q(folder / "s.ini"));
  EXPECT_FALSE(reader.flag(4, true));
  EXPECT_TRUE(reader.flag(5, false));
  EXPECT_FALSE(reader.flag(6, true));
  EXPECT_TRUE(reader.flag(7, true));  // empty slot: the default
}

TEST(SettingsFile, SavingKeepsSlotsThisVersionDoesNotWrite) {
  TempFolder folder;
  SlotFileBuilder file;
  file.strings = {{390, u"foreign"}, {0, u"old language"}, {63, u"abc"}};
  file.ints = {{300, 1234}};
  // A block whose bytes are not in the file: must not end up pointing into the new data.
  file.rawEntries = {{391, {99999, 12}}};
  file.writeTo(folder / "Velorin.ini");

  StoredSettings settings;  // every preset undefined: slots 384..393 are not written
  settings.application.LangFile = QStringLiteral("English.lng");
  settings.conversion.CmtStr1 = QStringLiteral("a comment that moves the data area along");
  ASSERT_TRUE(saveSettingsFile(q(folder / "Velorin.ini"), settings));

  SettingsReader reader(q(folder / "Velorin.ini"));
  ASSERT_TRUE(reader.valid());
  QString text;
  reader.string(390, text);
  EXPECT_EQ(text, QStringLiteral("foreign"));
  EXPECT_EQ(reader.intValue(300, 0), 1234);
  reader.string(0, text);
  EXPECT_EQ(text, QStringLiteral("English.lng"));
  reader.string(63, text);
  EXPECT_TRUE(text.isEmpty());  // written this time, as empty
  QByteArray bytes;
  reader.block(391, bytes);
  EXPECT_TRUE(bytes.isEmpty());
  const std::vector<uint8_t> raw = test::readBytes(folder / "Velorin.ini");
  EXPECT_EQ(le32At(raw, 4 + 8 * 391), 0u);

  // A second save keeps them again.
  ASSERT_TRUE(saveSettingsFile(q(folder / "Velorin.ini"), settings));
  SettingsReader second(q(folder / "Velorin.ini"));
  second.string(390, text);
  EXPECT_EQ(text, QStringLiteral("foreign"));
}

TEST(SettingsFile, AnIntegerWrittenOverAnOldBlockStays) {
  TempFolder folder;
  SlotFileBuilder file;
  file.strings = {{200, u"was a block"}};
  file.writeTo(folder / "s.ini");
  SettingsWriter writer;
  ASSERT_TRUE(writer.open(q(folder / "s.ini")));
  writer.putInt(200, 17);
  ASSERT_TRUE(writer.close());
  SettingsReader reader(q(folder / "s.ini"));
  EXPECT_EQ(reader.intValue(200, 0), 17);
}

TEST(SettingsFile, EmptyStartDropsEverythingOld) {
  TempFolder folder;
  SlotFileBuilder file;
  file.strings = {{390, u"foreign"}};
  file.ints = {{1, 5}};
  file.writeTo(folder / "s.ini");
  SettingsWriter writer;
  ASSERT_TRUE(writer.open(q(folder / "s.ini"), SettingsWriter::Start::Empty));
  writer.putInt(2, 8);
  ASSERT_TRUE(writer.close());
  EXPECT_EQ(test::readBytes(folder / "s.ini").size(), 3172u);
  SettingsReader reader(q(folder / "s.ini"));
  EXPECT_EQ(reader.intValue(1, -1), -1);
  EXPECT_EQ(reader.intValue(2, -1), 8);
}

TEST(SettingsFile, AFailedWriteLeavesThePreviousFileIntact) {
  TempFolder folder;
  SlotFileBuilder file;
  file.ints = {{67, 42}};
  file.strings = {{0, u"keep me"}};
  file.writeTo(folder / "Velorin.ini");
  const std::vector<uint8_t> before = test::readBytes(folder / "Velorin.ini");

  // The child saves with a file-size limit below any settings file: its write fails the way a
  // full disk makes it fail.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{2000, 2000};
    setrlimit(RLIMIT_FSIZE, &limit);
    StoredSettings settings;
    settings.conversion.CmtStr1 = QString(3000, QLatin1Char('c'));
    _exit(saveSettingsFile(q(folder / "Velorin.ini"), settings) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);  // reported as a failure
  EXPECT_EQ(test::readBytes(folder / "Velorin.ini"), before);
  EXPECT_EQ(QDir(q(folder.path())).entryList(QDir::Files | QDir::Hidden),
            QStringList{QStringLiteral("Velorin.ini")});  // no half-written file left behind
}

TEST(SettingsFile, UnreadableExistingFileIsNotReplaced) {
  TempFolder folder;
  std::filesystem::create_directory(folder / "Velorin.ini");  // exists, cannot be read as a file
  SettingsWriter writer;
  EXPECT_FALSE(writer.open(q(folder / "Velorin.ini")));
  EXPECT_FALSE(writer.close());
  EXPECT_TRUE(std::filesystem::is_directory(folder / "Velorin.ini"));
}

TEST(SettingsFile, DamagedFilesReadAndSaveWithoutHarm) {
  TempFolder folder;
  SlotFileBuilder file;
  file.strings = {{0, u"lang"}, {54, u"a\0b"}, {390, u"foreign"}, {113, u"n"}};
  file.ints = {{108, 1}, {1, 9}};
  const std::vector<uint8_t> good = file.build();
  uint32_t state = 12345;
  const auto next = [&state] { return state = state * 1103515245u + 12345u; };
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> bytes = good;
    for (int flips = 1 + int(next() % 8); flips > 0; --flips) {
      const size_t at = next() % bytes.size();
      bytes[at] = uint8_t(next() >> 16);
    }
    if (round % 3 == 0) bytes.resize(next() % bytes.size());
    test::writeBytes(folder / "s.ini", bytes);
    SettingsReader reader(q(folder / "s.ini"));
    const StoredSettings s = readStoredSettings(reader, QStringLiteral("/p"));
    reader.close();
    ASSERT_TRUE(saveSettingsFile(q(folder / "s.ini"), s)) << round;
    SettingsReader again(q(folder / "s.ini"));
    ASSERT_TRUE(again.valid()) << round;
    EXPECT_EQ(readStoredSettings(again, QStringLiteral("/p")), s) << round;
  }
}

TEST(SettingsFile, StringListsKeepEmptyEntriesAndToleratesAMissingLastZero) {
  const QStringList list{QStringLiteral("a"), QString(), QStringLiteral("b")};
  EXPECT_EQ(decodeStringList(encodeStringList(list)), list);
  // "a", zero, "b" with no zero after it, and a stray odd byte.
  EXPECT_EQ(decodeStringList(QByteArray("a\0\0\0b\0x", 7)),
            (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
}

}  // namespace
}  // namespace velorin
