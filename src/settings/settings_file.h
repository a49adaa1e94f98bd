// The settings file: a binary table of 396 numbered slots, each empty, a 32-bit integer or a
// block of bytes (a UTF-16LE string, a list of zero-terminated strings, or a byte list).
//
// Layout, little-endian:
//   0  u16 slot count (written as 396; a larger count is read as 396, a smaller one leaves the
//      higher slots absent)
//   2  u16 format number (written as 1, ignored when read)
//   4  count x { u32 offset, u32 length }: offset 0 = empty slot, 1 = integer slot whose value
//      is `length`, >= 2 = `length` bytes at file offset `offset`
//   4 + 8 x count: the data area holding the blocks
//
// A string is stored without a terminating zero; the empty string is an empty slot.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <vector>

namespace velorin {

inline constexpr int kSlotCount = 396;
inline constexpr uint32_t kDataAreaStart = 4 + 8 * kSlotCount;  // 3172 in a written file

struct SlotEntry {
  uint32_t offset = 0;
  uint32_t length = 0;
  bool operator==(const SlotEntry&) const = default;
};

// "Known" means the file has the slot (it may still be empty); "unknown" means the file ends
// its directory before the slot or could not be read, so the caller uses its own fallback.
enum class SlotText { Known, Unknown };

class SettingsReader {
 public:
  SettingsReader() = default;
  explicit SettingsReader(const QString& path) { open(path); }
  SettingsReader(const SettingsReader&) = delete;
  SettingsReader& operator=(const SettingsReader&) = delete;

  // False (and every read gives its default) when the file is missing, its directory is cut
  // short or it is 4 GiB or larger.
  bool open(const QString& path);
  void close();
  bool valid() const { return valid_; }
  int slotCount() const { return valid_ ? count_ : 0; }
  // What is wrong with a file that is there but damaged, in a few words: one that cannot be
  // valid (too short, its directory cut short), one with no slots, or one whose directory names
  // blocks outside the file (those read as empty). Null for a whole file or a missing one.
  const char* damage() const { return damage_; }

  int32_t intValue(int slot, int32_t fallback) const;
  bool flag(int slot, bool fallback) const;  // only bit 0 of the stored integer counts
  SlotText string(int slot, QString& out) const;
  SlotText stringList(int slot, QStringList& out) const;
  SlotText block(int slot, QByteArray& out) const;

 private:
  SlotEntry entry(int slot) const;

  mutable QFile file_;
  bool valid_ = false;
  const char* damage_ = nullptr;
  int count_ = 0;
  uint64_t fileSize_ = 0;
  std::array<SlotEntry, kSlotCount> directory_{};
};

// Writes a complete new settings file. Nothing touches the disk before close(), which writes the
// whole file beside the old one and renames it over, so a full disk or a crash mid-way leaves
// the previous settings intact.
class SettingsWriter {
 public:
  // FromExisting keeps the slots this pass does not write (integers as they are, blocks copied
  // across); Empty starts from an empty directory.
  enum class Start { FromExisting, Empty };

  SettingsWriter() = default;
  SettingsWriter(const SettingsWriter&) = delete;
  SettingsWriter& operator=(const SettingsWriter&) = delete;

  // False when an existing file cannot be read; the writer is then unusable and close() does
  // nothing.
  bool open(const QString& path, Start start = Start::FromExisting);
  bool usable() const { return usable_; }

  void putInt(int slot, int32_t value);
  void putBlock(int slot, const QByteArray& bytes);  // no bytes = empty slot
  void putString(int slot, const QString& text);
  void putStringList(int slot, const QStringList& list);

  // Carries over the old blocks not written in this pass and replaces the file. False when
  // nothing was written (the old file, if any, is then unchanged).
  bool close();

  // The bytes close() would write; for tests and for callers that store elsewhere.
  QByteArray fileBytes();

 private:
  void markWritten(int slot);
  void carryOverOldBlocks();

  QString path_;
  bool usable_ = false;
  bool carriedOver_ = false;
  std::array<SlotEntry, kSlotCount> directory_{};
  std::array<SlotEntry, kSlotCount> oldDirectory_{};
  std::array<bool, kSlotCount> written_{};
  QByteArray oldData_;          // the old data area, empty when there was none or it was unreadable
  uint64_t oldDataStart_ = 0;   // its file offset in the old file
  QByteArray data_;             // the new data area, starting at kDataAreaStart
};

// The block forms of strings and string lists.
QByteArray encodeString(const QString& text);
QString decodeString(const QByteArray& bytes);
QByteArray encodeStringList(const QStringList& list);
QStringList decodeStringList(const QByteArray& bytes);

}  // namespace velorin
