// What happens to a converted entry after its output is in place: time stamps copied, the source
// removed, and at the end of the job the HTML tag list of all outputs.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

#include "imaging/image.h"

namespace velorin {

// Writes the given times to the output. Only the last-write time can be set on Linux; a wanted
// creation time is left as the file system made it. Failures are silent.
void applyTimeStamps(const QString& outputPath, FileTime lastWrite, FileTime creation,
                     bool WrTimeCopy, bool CrTimeCopy);

// The same with the times read from the source file; the output keeps its own times when the
// source's cannot be read.
void copyTimeStampsFrom(const QString& sourcePath, const QString& outputPath, bool WrTimeCopy,
                        bool CrTimeCopy);

// Moves the source into the trash (recycle) or deletes it. False when it stayed.
bool removeSource(const QString& sourcePath, bool recycle);

// One line of the tag list per converted entry, in conversion order.
struct HtmlRecord {
  QString fileName;  // without its folder
  int32_t width = 0;
  int32_t height = 0;
};

// outputFolder + "/" + the folder's own name + ".txt".
QString htmlTagListPath(const QString& outputFolder);

// <img src="NAME" width="W" height="H" alt=""> followed by CR LF, in the locale's character set
// (the name limited to 259 bytes, never cut inside a character).
QByteArray htmlTagLine(const HtmlRecord& record);

// Writes the list, first moving an existing one into the trash. False when the old list could not
// be trashed or the new one not written; the converted images are never touched.
bool writeHtmlTagList(const QString& outputFolder, const std::vector<HtmlRecord>& records);

}  // namespace velorin
