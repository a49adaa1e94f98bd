#include "engine/actions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/file_times.h"
#include "platform/files.h"
#include "platform/trash.h"

namespace velorin {

void applyTimeStamps(const QString& outputPath, FileTime lastWrite, FileTime creation,
                     bool WrTimeCopy, bool CrTimeCopy) {
  if (WrTimeCopy) setLastWriteTime(outputPath, lastWrite);
  if (CrTimeCopy) setCreationTime(outputPath, creation);  // no effect on Linux
}

void copyTimeStampsFrom(const QString& sourcePath, const QString& outputPath, bool WrTimeCopy,
                        bool CrTimeCopy) {
  if (!WrTimeCopy && !CrTimeCopy) return;
  FileTimes times;
  if (!readFileTimes(sourcePath, times)) return;
  applyTimeStamps(outputPath, times.lastWrite, times.creation, WrTimeCopy, CrTimeCopy);
}

bool removeSource(const QString& sourcePath, bool recycle) {
  return recycle ? moveToTrash(sourcePath) : removeFile(sourcePath);
}

QString htmlTagListPath(const QString& outputFolder) {
  // Absolute first: "." or "sub/.." have no name of their own.
  const QString folder = QDir::cleanPath(QFileInfo(outputFolder).absoluteFilePath());
  const QString own = QFileInfo(folder).fileName();
  return QDir(folder).filePath(own + QStringLiteral(".txt"));
}

QByteArray htmlTagLine(const HtmlRecord& record) {
  QByteArray name = record.fileName.toLocal8Bit();
  if (name.size() > 259) {
    qsizetype cut = 259;
    // Step back over UTF-8 continuation bytes so no character is split.
    while (cut > 0 && (static_cast<uint8_t>(name[cut]) & 0xC0) == 0x80) --cut;
    name.truncate(cut);
  }
  // Linux names may hold the characters other systems forbid; escaped, such a name cannot end
  // the attribute or open a tag of its own in the page the list is pasted into.
  name.replace('"', "&quot;").replace('<', "&lt;").replace('>', "&gt;");
  return "<img src=\"" + name + "\" width=\"" + QByteArray::number(record.width) + "\" height=\"" +
         QByteArray::number(record.height) + "\" alt=\"\">\r\n";
}

bool writeHtmlTagList(const QString& outputFolder, const std::vector<HtmlRecord>& records) {
  const QString path = htmlTagListPath(outputFolder);
  const QFileInfo existing(path);
  if (existing.isDir()) return false;  // a folder of that name is the user's, not an old list
  if ((existing.exists() || existing.isSymLink()) && !moveToTrash(path)) return false;
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  bool ok = true;
  for (const HtmlRecord& record : records) {
    const QByteArray line = htmlTagLine(record);
    if (file.write(line) != line.size()) ok = false;
  }
  file.close();
  if (records.empty() || !ok) file.remove();
  return ok;
}

}  // namespace velorin
