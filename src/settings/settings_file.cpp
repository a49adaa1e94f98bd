#include "settings/settings_file.h"

#include <QFileInfo>

#include <algorithm>

#include "platform/atomic_file.h"

namespace velorin {

namespace {
constexpr uint64_t kFourGiB = uint64_t{1} << 32;

uint32_t loadLe32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

void appendLe32(QByteArray& out, uint32_t v) {
  const char bytes[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
  out.append(bytes, 4);
}

bool inSlotRange(int slot) { return slot >= 0 && slot < kSlotCount; }

void parseDirectory(const QByteArray& bytes, int count, std::array<SlotEntry, kSlotCount>& out) {
  for (int i = 0; i < count; ++i) {
    out[i].offset = loadLe32(bytes.constData() + 8 * i);
    out[i].length = loadLe32(bytes.constData() + 8 * i + 4);
  }
}
}  // namespace

// --- block forms -------------------------------------------------------------------------------

QByteArray encodeString(const QString& text) {
  QByteArray out;
  out.reserve(text.size() * 2);
  for (const QChar c : text) {
    out.append(char(c.unicode() & 0xFF));
    out.append(char(c.unicode() >> 8));
  }
  return out;
}

QString decodeString(const QByteArray& bytes) {
  QString out;
  const qsizetype units = bytes.size() / 2;  // a stray odd byte is no code unit
  out.reserve(units);
  for (qsizetype i = 0; i < units; ++i) {
    const auto lo = static_cast<unsigned char>(bytes[2 * i]);
    const auto hi = static_cast<unsigned char>(bytes[2 * i + 1]);
    out.append(QChar(char16_t(lo | hi << 8)));
  }
  return out;
}

QByteArray encodeStringList(const QStringList& list) {
  QByteArray out;
  for (const QString& s : list) {
    out += encodeString(s);
    out.append(2, '\0');
  }
  return out;
}

QStringList decodeStringList(const QByteArray& bytes) {
  const QString all = decodeString(bytes);
  QStringList out;
  qsizetype start = 0;
  for (qsizetype i = 0; i < all.size(); ++i) {
    if (all.at(i).unicode() == 0) {
      out << all.mid(start, i - start);
      start = i + 1;
    }
  }
  if (start < all.size()) out << all.mid(start);  // a last entry without its zero
  return out;
}

// --- reader ------------------------------------------------------------------------------------

bool SettingsReader::open(const QString& path) {
  close();
  file_.setFileName(path);
  if (!file_.open(QIODevice::ReadOnly)) return false;
  const QByteArray head = file_.read(4);
  const qint64 size = file_.size();
  if (head.size() != 4 || size < 0 || uint64_t(size) >= kFourGiB) {
    const char* damage = size == 0 ? "it is empty" : head.size() != 4 ? "it is too short" : "it is too large";
    close();
    damage_ = damage;
    return false;
  }
  const int stored = int(loadLe32(head.constData()) & 0xFFFF);
  count_ = std::min(stored, kSlotCount);
  const QByteArray entries = file_.read(qint64{8} * count_);
  if (entries.size() != 8 * count_) {
    close();
    damage_ = "its slot directory is cut short";
    return false;
  }
  parseDirectory(entries, count_, directory_);
  fileSize_ = uint64_t(size);
  valid_ = true;
  if (count_ == 0) damage_ = "it holds no settings";
  const uint64_t dataStart = 4 + uint64_t{8} * count_;
  for (int i = 0; i < count_ && !damage_; ++i) {
    const SlotEntry e = directory_[i];
    if (e.offset >= 2 && e.length > 0 && (e.offset < dataStart || uint64_t{e.offset} + e.length > fileSize_))
      damage_ = "some of its settings lie outside it";
  }
  return true;
}

void SettingsReader::close() {
  file_.close();
  damage_ = nullptr;
  valid_ = false;
  count_ = 0;
  fileSize_ = 0;
  directory_.fill({});
}

SlotEntry SettingsReader::entry(int slot) const {
  if (!valid_ || slot < 0 || slot >= count_) return {};
  return directory_[slot];
}

int32_t SettingsReader::intValue(int slot, int32_t fallback) const {
  const SlotEntry e = entry(slot);
  if (!valid_ || slot < 0 || slot >= count_ || e.offset != 1) return fallback;
  return static_cast<int32_t>(e.length);
}

bool SettingsReader::flag(int slot, bool fallback) const {
  return (intValue(slot, fallback ? 1 : 0) & 1) != 0;
}

SlotText SettingsReader::block(int slot, QByteArray& out) const {
  out.clear();
  if (!valid_ || slot < 0 || slot >= count_) return SlotText::Unknown;
  const SlotEntry e = directory_[slot];
  if (e.offset < 2 || e.length == 0) return SlotText::Known;
  // Only the data area holds blocks; an entry pointing anywhere else reads as empty.
  const uint64_t dataStart = 4 + uint64_t{8} * count_;
  if (e.offset < dataStart || uint64_t{e.offset} + e.length > fileSize_) return SlotText::Known;
  if (!file_.seek(e.offset)) return SlotText::Known;
  QByteArray bytes = file_.read(e.length);
  if (bytes.size() == qsizetype(e.length)) out = std::move(bytes);
  return SlotText::Known;
}

SlotText SettingsReader::string(int slot, QString& out) const {
  QByteArray bytes;
  const SlotText result = block(slot, bytes);
  out = decodeString(bytes);
  return result;
}

SlotText SettingsReader::stringList(int slot, QStringList& out) const {
  QByteArray bytes;
  const SlotText result = block(slot, bytes);
  out = decodeStringList(bytes);
  return result;
}

// --- writer ------------------------------------------------------------------------------------

bool SettingsWriter::open(const QString& path, Start start) {
  path_ = path;
  usable_ = false;
  carriedOver_ = false;
  directory_.fill({});
  oldDirectory_.fill({});
  written_.fill(false);
  oldData_.clear();
  oldDataStart_ = 0;
  data_.clear();

  if (start == Start::FromExisting && QFileInfo::exists(path)) {
    QFile old(path);
    // An existing file we cannot read is left alone rather than replaced by defaults.
    if (!old.open(QIODevice::ReadOnly)) return false;
    const qint64 size = old.size();
    const QByteArray head = old.read(4);
    if (head.size() == 4) {
      const uint32_t stored = loadLe32(head.constData()) & 0xFFFF;
      const int count = std::min<int>(int(stored), kSlotCount);
      const QByteArray entries = old.read(qint64{8} * count);
      if (entries.size() == 8 * count) parseDirectory(entries, count, oldDirectory_);
      // The data area begins after the directory as stored, not as capped.
      oldDataStart_ = 4 + uint64_t{8} * stored;
      if (size > 0 && uint64_t(size) < kFourGiB && oldDataStart_ < uint64_t(size) &&
          old.seek(qint64(oldDataStart_))) {
        QByteArray rest = old.readAll();
        if (rest.size() == size - qint64(oldDataStart_)) oldData_ = std::move(rest);
      }
    }
    directory_ = oldDirectory_;
  }
  usable_ = true;
  return true;
}

void SettingsWriter::markWritten(int slot) { written_[slot] = true; }

void SettingsWriter::putInt(int slot, int32_t value) {
  if (!usable_ || !inSlotRange(slot)) return;
  directory_[slot] = {1, static_cast<uint32_t>(value)};
  markWritten(slot);
}

void SettingsWriter::putBlock(int slot, const QByteArray& bytes) {
  if (!usable_ || !inSlotRange(slot)) return;
  markWritten(slot);
  if (bytes.isEmpty()) {
    directory_[slot] = {};
    return;
  }
  const uint64_t position = kDataAreaStart + uint64_t(data_.size());
  if (position + uint64_t(bytes.size()) >= kFourGiB) {
    usable_ = false;  // offsets are 32-bit; refuse rather than write a broken file
    return;
  }
  directory_[slot] = {uint32_t(position), uint32_t(bytes.size())};
  data_ += bytes;
}

void SettingsWriter::putString(int slot, const QString& text) { putBlock(slot, encodeString(text)); }

void SettingsWriter::putStringList(int slot, const QStringList& list) {
  putBlock(slot, encodeStringList(list));
}

void SettingsWriter::carryOverOldBlocks() {
  if (carriedOver_) return;
  carriedOver_ = true;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const SlotEntry old = oldDirectory_[slot];
    if (written_[slot] || old.offset < 2) continue;
    const uint64_t begin = old.offset, end = begin + old.length;
    const uint64_t copyEnd = oldDataStart_ + uint64_t(oldData_.size());
    if (!oldData_.isEmpty() && begin >= oldDataStart_ && end <= copyEnd) {
      const QByteArray bytes = oldData_.mid(qsizetype(begin - oldDataStart_), old.length);
      putBlock(slot, bytes);
    } else {
      // The old bytes are gone; an entry left pointing at the new data area would read
      // another slot's bytes.
      directory_[slot] = {};
    }
  }
}

QByteArray SettingsWriter::fileBytes() {
  carryOverOldBlocks();
  QByteArray out;
  out.reserve(qsizetype(kDataAreaStart) + data_.size());
  appendLe32(out, uint32_t(kSlotCount) | (uint32_t{1} << 16));
  for (const SlotEntry& e : directory_) {
    appendLe32(out, e.offset);
    appendLe32(out, e.length);
  }
  out += data_;
  return out;
}

bool SettingsWriter::close() {
  if (!usable_) return false;
  const QByteArray bytes = fileBytes();
  const bool fits = usable_;  // carrying old blocks over can run out of 32-bit offsets
  usable_ = false;
  if (!fits) return false;
  return replaceFileContents(path_, bytes);
}

}  // namespace velorin
