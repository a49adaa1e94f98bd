#include "sources/zip_reader.h"

#include <QFile>
#include <QStringDecoder>

#include "platform/fs_path.h"

namespace velorin {

namespace {

const char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

QString decodeCp437(const std::string& bytes) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (const char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    text.append(b < 0x80 ? QChar(b) : QChar(kCp437High[b - 0x80]));
  }
  return text;
}

QString decodeUtf8(const std::string& bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// A name cut at its byte limit may end inside a UTF-8 sequence; that tail is dropped rather
// than shown as a replacement character.
std::string withoutCutSequence(std::string bytes) {
  if (bytes.empty()) return bytes;
  size_t last = bytes.size() - 1;
  while (last > 0 && bytes.size() - last < 4 && (static_cast<uint8_t>(bytes[last]) & 0xC0) == 0x80) --last;
  const auto first = static_cast<uint8_t>(bytes[last]);
  const size_t need = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
  if (bytes.size() - last < need) bytes.resize(last);
  return bytes;
}

}  // namespace

QByteArray localeCharset() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const QByteArray value = qgetenv(variable);
    if (value.isEmpty()) continue;
    const qsizetype dot = value.indexOf('.');
    if (dot < 0) break;  // "C", "POSIX" or a locale without a named character set
    QByteArray charset = value.mid(dot + 1);
    const qsizetype at = charset.indexOf('@');
    if (at >= 0) charset.truncate(at);
    return charset.isEmpty() ? QByteArrayLiteral("UTF-8") : charset;
  }
  return QByteArrayLiteral("UTF-8");
}

QString decodeZipName(const ZipRecord& record, const QByteArray& charset) {
  if (!record.unicodeName.empty()) return decodeUtf8(withoutCutSequence(record.unicodeName));
  if (record.utf8Flag) return decodeUtf8(withoutCutSequence(record.name));
  QStringDecoder decoder(charset.constData(), QStringDecoder::Flag::Stateless);
  if (!decoder.isValid()) decoder = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = decoder.decode(QByteArrayView(record.name.data(), static_cast<qsizetype>(record.name.size())));
  if (decoder.hasError()) return decodeCp437(record.name);
  return text;
}

std::optional<MemberList> listZip(const QString& archivePath, uint32_t* skipped) {
  if (skipped) *skipped = 0;
  FileArchiveSource source;
  if (!source.open(toFsPath(archivePath))) return std::nullopt;
  std::vector<ZipRecord> records;
  uint32_t left = 0;
  if (!listZipRecords(source, records, left)) return std::nullopt;
  const QByteArray charset = localeCharset();
  MemberList list;
  list.capacity = static_cast<uint32_t>(records.size()) + left;
  list.archiveTime = source.lastWriteTime();
  list.entries.reserve(records.size());
  for (const ZipRecord& record : records) {
    MemberEntry entry;
    splitMemberPath(decodeZipName(record, charset), entry);
    entry.position = record.localHeaderOffset;
    entry.fileTime = dosTimeToFileTime(record.dosDate, record.dosTime);
    entry.size = record.uncompressedSize;
    list.entries.push_back(std::move(entry));
  }
  if (skipped) *skipped = left;
  return list;
}

bool extractZip(const QString& archivePath, uint32_t position, PixelBuffer& block) {
  block.reset();
  FileArchiveSource source;
  if (!source.open(toFsPath(archivePath))) return false;
  return extractZipMember(source, position, block);
}

bool peekZip(const QString& archivePath, uint32_t position, size_t count, ZipMemberHead& head) {
  FileArchiveSource source;
  if (!source.open(std::filesystem::path(QFile::encodeName(archivePath).toStdString()))) return false;
  return peekZipMember(source, position, count, head);
}

}  // namespace velorin
