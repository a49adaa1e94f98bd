#include "engine/naming.h"

#include <QFile>

#include <vector>

#include "platform/directory.h"
#include "platform/files.h"

namespace velorin {

namespace {

QString serialNumber(int64_t number, int32_t digits) {
  const bool negative = number < 0;
  QString text = QString::number(negative ? -number : number);
  if (text.size() < digits) text.prepend(QString(digits - text.size(), QLatin1Char('0')));
  return negative ? QLatin1Char('-') + text : text;
}

// name without its last extension; the extension starts at the last dot.
QStringView withoutExtension(QStringView name) {
  const qsizetype dot = name.lastIndexOf(u'.');
  return dot < 0 ? name : name.left(dot);
}

}  // namespace

NamingRules NamingRules::from(const ConversionSettings& s, const QString& extension) {
  NamingRules rules;
  rules.NameSet = s.NameSet;
  if (s.TopAdd) rules.prefix = s.TopStr;
  if (s.EndAdd) rules.suffix = s.EndStr;
  rules.StartNum = s.StartNum;
  rules.DigitNum = qBound(1, s.DigitNum, 5);
  rules.extension = extension;
  return rules;
}

bool exifDateTimeUsable(const char* exif) {
  if (!exif) return false;
  // "DDDD:DD:DD DD:DD:DD": only the digit positions reach the name, so nothing else is checked
  // beyond the text being long enough to hold them.
  static const char kShape[] = "DDDD:DD:DD DD:DD:DD";
  for (int i = 0; kShape[i]; ++i) {
    if (exif[i] == '\0') return false;
    if (kShape[i] == 'D' && (exif[i] < '0' || exif[i] > '9')) return false;
  }
  return true;
}

QString outputStem(const NamingRules& rules, QStringView entryName, int64_t processedCount,
                   const char* exif) {
  if (rules.NameSet == 2) return serialNumber(rules.StartNum + processedCount, rules.DigitNum);
  if (rules.NameSet == 1 && exifDateTimeUsable(exif)) {
    // "2013:05:28 14:21:26" -> "20130528_142126"; the positions are fixed by the EXIF format.
    static const int kPositions[] = {0, 1, 2, 3, 5, 6, 8, 9, -1, 11, 12, 14, 15, 17, 18};
    QString stem;
    for (const int position : kPositions) stem += position < 0 ? QChar(u'_') : QChar::fromLatin1(exif[position]);
    return stem;
  }
  return withoutExtension(entryName).toString();
}

QString outputFileName(const NamingRules& rules, QStringView entryName, int64_t processedCount,
                       const char* exif) {
  return rules.prefix + outputStem(rules, entryName, processedCount, exif) + rules.suffix + rules.extension;
}

QString joinPath(const QString& folder, const QString& name) {
  return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

bool fitsPathLimits(const QString& folder, const QString& name) {
  return QFile::encodeName(name).size() <= kMaxFileNameBytes &&
         QFile::encodeName(joinPath(folder, name)).size() <= kMaxPathBytes;
}

const char* outputNameFault(const QString& folder, const QString& name) {
  if (name.isEmpty()) return "it is empty";
  if (name == QLatin1String(".") || name == QLatin1String("..")) return "it names a folder";
  if (name.contains(QLatin1Char('/'))) return "it holds a \"/\"";
  if (name.contains(QChar(u'\0'))) return "it holds a NUL character";
  if (!fitsPathLimits(folder, name)) return "it is too long";
  return nullptr;
}

bool isUsableOutputName(const QString& folder, const QString& name) { return !outputNameFault(folder, name); }

bool isUsableOutputFolderPath(const QString& folder, const QString& relative) {
  if (relative.isEmpty()) return true;
  if (!relative.endsWith(QLatin1Char('/'))) return false;
  QString current = folder;
  for (const QString& part : relative.chopped(1).split(QLatin1Char('/'))) {
    if (!isUsableOutputName(current, part)) return false;
    current = joinPath(current, part);
  }
  return true;
}

QString makeOutputPath(const NamingRules& rules, const QString& outputFolder, QStringView entryName,
                       int64_t processedCount, const char* exif) {
  const QString name = outputFileName(rules, entryName, processedCount, exif);
  if (!isUsableOutputName(outputFolder, name)) return {};
  return resolveCollision(joinPath(outputFolder, name));
}

QString resolveCollision(const QString& path) {
  if (!pathEntryExists(path)) return path;
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  const QString folder = slash < 0 ? QString() : path.left(slash + 1);
  const QString name = path.mid(slash + 1);
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  const QString base = (dot < 0 ? name : name.left(dot)) + QLatin1Char('+');
  const QString extension = dot < 0 ? QString() : name.mid(dot);
  for (int n = 1; n <= kMaxCollisionNumber; ++n) {
    const QString candidate = base + QString::number(n) + extension;
    if (!isUsableOutputName(folder, candidate)) return {};
    const QString full = folder + candidate;
    if (!pathEntryExists(full)) return full;
  }
  return {};
}

QStringList existingOutputNames(const QString& outputFolder, const QString& extension) {
  std::vector<DirectoryItem> items;
  readDirectory(outputFolder, QString(QLatin1Char('*') + extension), items);
  QStringList names;
  names.reserve(static_cast<qsizetype>(items.size()));
  for (const DirectoryItem& item : items) names << item.name;
  return names;
}

QString previewOutputName(const NamingRules& rules, const QString& outputFolder, QStringView entryName,
                          int64_t processedCount, const char* exif, QStringList& table) {
  QString name = outputFileName(rules, entryName, processedCount, exif);
  if (!isUsableOutputName(outputFolder, name)) return {};
  if (table.contains(name)) {
    const QString base = withoutExtension(name).toString() + QLatin1Char('+');
    const QString extension = name.mid(withoutExtension(name).size());
    QString found;
    for (int n = 1; n <= kMaxCollisionNumber && found.isEmpty(); ++n) {
      const QString candidate = base + QString::number(n) + extension;
      if (!isUsableOutputName(outputFolder, candidate)) return {};
      if (!table.contains(candidate)) found = candidate;
    }
    if (found.isEmpty()) return {};
    name = found;
  }
  table << name;
  return name;
}

}  // namespace velorin
