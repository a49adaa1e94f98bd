#include "settings/settings_store.h"

#include <QFile>
#include <QFileInfo>

#include "platform/files.h"
#include "settings/old_text_format.h"
#include "settings/settings_file.h"

namespace velorin {

StoredSettings readStoredSettings(const SettingsReader& reader, const QString& picturesFolder) {
  StoredSettings s;
  s.application = readApplicationSettings(reader, picturesFolder);
  s.conversion = readConversionSettings(reader);
  s.presets = readPresets(reader);
  return s;
}

void writeStoredSettings(SettingsWriter& writer, const StoredSettings& s) {
  writeConversionSettings(writer, s.conversion);
  writePresets(writer, s.presets);
  writeApplicationSettings(writer, s.application);
}

namespace {
// A text file still in place (its conversion failed, or it is UTF-16, which start-up reads as
// a slot file) is the user's only copy of those settings: it is kept as ".txt" before it is
// replaced, and nothing of it is taken over as a slot directory.
bool isTextSettingsFile(const QString& path) {
  if (isOldTextFormat(path)) return true;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray head = file.read(2);
  return head == "\xFF\xFE" || head == "\xFE\xFF";
}
}  // namespace

bool saveSettingsFile(const QString& path, const StoredSettings& settings) {
  SettingsWriter::Start start = SettingsWriter::Start::FromExisting;
  if (isTextSettingsFile(path)) {
    if (!copyFileReplacing(path, oldFormatBackupPath(path))) return false;
    start = SettingsWriter::Start::Empty;
  }
  SettingsWriter writer;
  if (!writer.open(path, start)) return false;
  writeStoredSettings(writer, settings);
  return writer.close();
}

namespace {
// A folder, a pipe or a device where the file should be is never opened (a pipe would block);
// no path at all is a run without a settings place.
bool otherThanAFile(const QString& path) {
  const QFileInfo info(path);
  return path.isEmpty() || (info.exists() && !info.isFile());
}

StoredSettings readSlotFile(const QString& path, const QString& picturesFolder) {
  SettingsReader reader;
  if (!otherThanAFile(path)) reader.open(path);
  return readStoredSettings(reader, picturesFolder);
}

// A text file with none of the program's sections is no settings file at all.
bool holdsProgramSection(const ProfileReader& profile) {
  static const char* const kSections[] = {"MWin", "FolderList", "CvtPrms", "CvtSet1", "CvtSet2",
                                          "CvtSet3", "CvtSet4", "CvtSet5"};
  for (const char* section : kSections)
    if (profile.hasSection(QLatin1String(section))) return true;
  return false;
}

bool isOldTextSettingsFile(const QString& path) {
  ProfileReader profile;
  return profile.load(path) && holdsProgramSection(profile);
}

StoredSettings readTextFileInPlace(const QString& path) {
  ProfileReader profile;
  profile.load(path);
  return readOldTextSettings(profile);
}

StoredSettings defaultSettings(const QString& picturesFolder) {
  return readStoredSettings(SettingsReader(), picturesFolder);
}
}  // namespace

SettingsLoad loadSettingsFile(const QString& path, const QString& picturesFolder) {
  SettingsLoad load;
  if (!otherThanAFile(path) && isOldTextFormat(path)) {
    if (!isOldTextSettingsFile(path)) {
      load.settings = defaultSettings(picturesFolder);
      return load;
    }
    if (convertOldTextFormat(path)) {
      load.converted = true;
    } else {
      load.conversionFailed = true;
      load.settings = readTextFileInPlace(path);
      return load;
    }
  }
  load.settings = readSlotFile(path, picturesFolder);
  return load;
}

StoredSettings readSettingsFileOnly(const QString& path, const QString& picturesFolder) {
  if (!otherThanAFile(path) && isOldTextFormat(path))
    return isOldTextSettingsFile(path) ? readTextFileInPlace(path) : defaultSettings(picturesFolder);
  return readSlotFile(path, picturesFolder);
}

SettingsTrouble settingsFileTrouble(const QString& path) {
  SettingsTrouble trouble;
  const QFileInfo info(path);
  if (path.isEmpty() || !info.exists()) return trouble;
  if (!info.isFile()) {
    trouble.what = "is not a file";
    trouble.reason = info.isDir() ? QStringLiteral("a folder is in its place")
                                  : QStringLiteral("a special file is in its place");
    return trouble;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    trouble.what = "cannot be read";
    trouble.reason = file.errorString();
    return trouble;
  }
  file.close();
  if (isOldTextFormat(path)) {
    if (isOldTextSettingsFile(path)) return trouble;
    trouble.what = "is not a settings file";
    trouble.reason = QStringLiteral("it holds neither slots nor any of the program's sections");
    return trouble;
  }
  const SettingsReader reader(path);
  if (const char* damage = reader.damage()) {
    trouble.what = "is damaged";
    trouble.reason = QLatin1String(damage);
    trouble.wholeFile = reader.slotCount() == 0;
  }
  return trouble;
}

QString settingsTroubleText(const QString& path, const SettingsTrouble& trouble) {
  if (!trouble) return {};
  return path + QStringLiteral(": settings file ") + QLatin1String(trouble.what) + QStringLiteral(" (") +
         trouble.reason +
         (trouble.wholeFile ? QStringLiteral("), using the defaults") : QStringLiteral("), using the defaults for those"));
}

bool applyPresetForRun(StoredSettings& settings, int oneBasedNumber, QString* message) {
  if (oneBasedNumber < 1 || oneBasedNumber > kPresetCount) {
    if (message) *message = QStringLiteral("there is no preset %1; presets are numbered 1 to %2")
                                .arg(oneBasedNumber)
                                .arg(kPresetCount);
    return false;
  }
  if (!applyPreset(settings.presets, oneBasedNumber - 1, settings.conversion)) {
    if (message) *message = QStringLiteral("preset %1 is not defined").arg(oneBasedNumber);
    return false;
  }
  return true;
}

namespace {
QString oneLine(QString value) {
  value.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
  value.replace(QLatin1Char('\n'), QLatin1String("\\n"));
  value.replace(QLatin1Char('\r'), QLatin1String("\\r"));
  return value;
}
}  // namespace

QStringList settingsListing(const StoredSettings& s) {
  QStringList lines;
  const auto line = [&lines](const QString& key, const QString& value) {
    lines << key + QLatin1Char('=') + oneLine(value);
  };
  const ApplicationSettings& app = s.application;
  for (const ApplicationField& f : applicationSettingFields()) {
    switch (f.kind) {
      case SettingKind::Int: line(QLatin1String(f.key), QString::number(app.*(f.intMember))); break;
      case SettingKind::Flag: line(QLatin1String(f.key), QString::number(app.*(f.flagMember) ? 1 : 0)); break;
      case SettingKind::String: line(QLatin1String(f.key), app.*(f.stringMember)); break;
    }
  }
  for (int i = 0; i < kHistoryLength; ++i)
    line(QStringLiteral("IH%1").arg(i), app.inputHistory.value(i));
  for (int i = 0; i < kHistoryLength; ++i)
    line(QStringLiteral("OH%1").arg(i), app.outputHistory.value(i));
  for (const SettingField& f : conversionSettingFields())
    line(QLatin1String(f.key), settingText(s.conversion, f));
  return lines;
}

}  // namespace velorin
