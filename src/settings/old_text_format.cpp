#include "settings/old_text_format.h"

#include <QFile>
#include <QFileInfo>
#include <QDir>

#include "platform/files.h"
#include "settings/presets.h"
#include "settings/settings_file.h"
#include "settings/settings_store.h"

namespace velorin {

namespace {
constexpr qsizetype kProfileValueLength = 259;

bool sameName(const QString& a, const QString& b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i) {
    char16_t x = a.at(i).unicode(), y = b.at(i).unicode();
    if (x >= u'a' && x <= u'z') x = char16_t(x - 32);
    if (y >= u'a' && y <= u'z') y = char16_t(y - 32);
    if (x != y) return false;
  }
  return true;
}

QString decodeUtf16(const QByteArray& bytes, qsizetype start, bool bigEndian) {
  QString out;
  for (qsizetype i = start; i + 1 < bytes.size(); i += 2) {
    const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    out.append(QChar(char16_t(bigEndian ? (a << 8 | b) : (b << 8 | a))));
  }
  return out;
}

QString decodeProfileText(const QByteArray& bytes) {
  if (bytes.startsWith("\xFF\xFE")) return decodeUtf16(bytes, 2, false);
  if (bytes.startsWith("\xFE\xFF")) return decodeUtf16(bytes, 2, true);
  if (bytes.startsWith("\xEF\xBB\xBF")) return QString::fromUtf8(bytes.mid(3));
  return QString::fromLocal8Bit(bytes);  // the system's 8-bit character set
}

QString stripQuotes(const QString& value) {
  if (value.size() >= 2) {
    const QChar first = value.front(), last = value.back();
    if (first == last && (first == u'"' || first == u'\'')) return value.mid(1, value.size() - 2);
  }
  return value;
}

// Like the classic profile functions: optional blanks and sign, then 0x and hex digits or
// decimal digits, up to the first other character; 32-bit wrap-around as they had.
int32_t leadingNumber(const QString& text) {
  qsizetype i = 0;
  while (i < text.size() && text.at(i).isSpace()) ++i;
  bool negative = false;
  if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+')) negative = text.at(i++) == u'-';
  uint32_t base = 10;
  if (i + 1 < text.size() && text.at(i) == u'0' && (text.at(i + 1) == u'x' || text.at(i + 1) == u'X')) {
    base = 16;
    i += 2;
  }
  uint32_t value = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text.at(i).unicode();
    int digit = -1;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    else if (base == 16 && c >= u'a' && c <= u'f') digit = c - u'a' + 10;
    else if (base == 16 && c >= u'A' && c <= u'F') digit = c - u'A' + 10;
    if (digit < 0 || uint32_t(digit) >= base) break;
    value = value * base + uint32_t(digit);
  }
  return static_cast<int32_t>(negative ? 0u - value : value);
}
}  // namespace

// --- ProfileReader -----------------------------------------------------------------------------

bool ProfileReader::load(const QString& path) {
  sections_.clear();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  parse(file.readAll());
  return true;
}

void ProfileReader::parse(const QByteArray& bytes) {
  sections_.clear();
  const QString text = decodeProfileText(bytes);
  Section* current = nullptr;
  for (QStringView line : QStringView(text).split(u'\n')) {
    line = line.trimmed();
    if (line.isEmpty() || line.front() == u';') continue;
    if (line.front() == u'[') {
      const qsizetype close = line.indexOf(u']');
      const QStringView name = close < 0 ? line.mid(1) : line.mid(1, close - 1);
      sections_.push_back({name.trimmed().toString(), {}});
      current = &sections_.back();
      continue;
    }
    if (!current) continue;  // lines before the first section belong to none
    const qsizetype equals = line.indexOf(u'=');
    if (equals < 0) {
      current->keys.push_back({line.toString(), {}});
    } else {
      current->keys.push_back(
          {line.left(equals).trimmed().toString(), line.mid(equals + 1).trimmed().toString()});
    }
  }
}

const ProfileReader::Key* ProfileReader::find(const QString& section, const QString& key) const {
  for (const Section& s : sections_) {
    if (!sameName(s.name, section)) continue;
    for (const Key& k : s.keys)
      if (sameName(k.name, key)) return &k;
    return nullptr;  // only the first section of a name is searched
  }
  return nullptr;
}

bool ProfileReader::has(const QString& section, const QString& key) const {
  return find(section, key) != nullptr;
}

bool ProfileReader::hasSection(const QString& section) const {
  for (const Section& s : sections_)
    if (sameName(s.name, section)) return true;
  return false;
}

QString ProfileReader::string(const QString& section, const QString& key, const QString& fallback) const {
  const Key* k = find(section, key);
  // The classic functions read into 260-character buffers: longer values arrive cut.
  return k ? stripQuotes(k->value).left(kProfileValueLength) : fallback;
}

int32_t ProfileReader::intValue(const QString& section, const QString& key, int32_t fallback) const {
  const QString text = string(section, key);
  if (text.isEmpty()) return fallback;
  return leadingNumber(text);
}

// --- detection and conversion ------------------------------------------------------------------

bool isOldTextFormat(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray head = file.read(4);
  return head.size() == 4 && head[3] != '\0';
}

QString oldFormatBackupPath(const QString& path) {
  const QFileInfo info(path);
  return info.dir().filePath(info.completeBaseName() + QStringLiteral(".txt"));
}

namespace {
void readFields(const ProfileReader& profile, const QString& section, ConversionSettings& s) {
  const ConversionSettings defaults;
  for (const SettingField& f : conversionSettingFields()) {
    const QString key = QLatin1String(f.key);
    switch (f.kind) {
      case SettingKind::Int: s.*(f.intMember) = profile.intValue(section, key, defaults.*(f.intMember)); break;
      case SettingKind::Flag:
        s.*(f.flagMember) = (profile.intValue(section, key, defaults.*(f.flagMember) ? 1 : 0) & 1) != 0;
        break;
      case SettingKind::String: s.*(f.stringMember) = profile.string(section, key); break;
    }
  }
  applyRangeCorrections(s);
}
}  // namespace

StoredSettings readOldTextSettings(const ProfileReader& profile) {
  StoredSettings out;
  const QString mwin = QStringLiteral("MWin");
  ApplicationSettings& app = out.application;
  const ApplicationSettings defaults;
  for (const ApplicationField& f : applicationSettingFields()) {
    const QString key = QLatin1String(f.key);
    switch (f.kind) {
      case SettingKind::Int: app.*(f.intMember) = profile.intValue(mwin, key, defaults.*(f.intMember)); break;
      case SettingKind::Flag:
        app.*(f.flagMember) = (profile.intValue(mwin, key, defaults.*(f.flagMember) ? 1 : 0) & 1) != 0;
        break;
      case SettingKind::String: app.*(f.stringMember) = profile.string(mwin, key); break;
    }
  }
  applyApplicationCorrections(app);
  for (int i = 0; i < kHistoryLength; ++i) {
    app.inputHistory << profile.string(mwin, QStringLiteral("IH%1").arg(i));
    app.outputHistory << profile.string(mwin, QStringLiteral("OH%1").arg(i));
  }
  for (int i = 0;; ++i) {
    const QString folder = profile.string(QStringLiteral("FolderList"), QString::number(i));
    if (folder.isEmpty()) break;
    app.FolderList << folder;
  }
  app.folderFlags = QByteArray(app.FolderList.size(), '\0');

  readFields(profile, QStringLiteral("CvtPrms"), out.conversion);
  for (int n = 0; n < kPresetCount; ++n) {
    const QString section = QStringLiteral("CvtSet%1").arg(n + 1);
    Preset& p = out.presets[n];
    p.defined = (profile.intValue(section, QStringLiteral("Setup"), 0) & 1) != 0;
    p.name = profile.string(section, QStringLiteral("Name"));
    readFields(profile, section, p.settings);
  }
  return out;
}

bool convertOldTextFormat(const QString& path) {
  // Without its backup the text file is never replaced: it would be the only copy.
  const QString backup = oldFormatBackupPath(path);
  if (!copyFileReplacing(path, backup)) return false;
  ProfileReader profile;
  if (!profile.load(backup)) return false;
  const StoredSettings settings = readOldTextSettings(profile);
  SettingsWriter writer;
  if (!writer.open(path, SettingsWriter::Start::Empty)) return false;
  // Every old key has its slot, the settings of presets never saved included.
  writeConversionSettings(writer, settings.conversion);
  writePresets(writer, settings.presets, true);
  writeApplicationSettings(writer, settings.application);
  return writer.close();
}

}  // namespace velorin
