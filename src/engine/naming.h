// Output naming: the file name an entry gets (source name, EXIF date or serial number, with
// prefix, suffix and the output format's extension), the "+n" suffix that keeps existing files
// from being overwritten, and the same naming computed against a table of names for the preview.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

#include "settings/conversion_settings.h"

namespace velorin {

// The settings naming reads, fixed for a job.
struct NamingRules {
  int32_t NameSet = 0;  // 0 source name, 1 EXIF date, 2 serial number
  QString prefix;       // TopStr when TopAdd is on, else empty
  QString suffix;       // EndStr when EndAdd is on, else empty
  int32_t StartNum = 0;
  int32_t DigitNum = 2;
  QString extension;  // of the output format, with its dot

  static NamingRules from(const ConversionSettings& settings, const QString& extension);
};

// The highest collision suffix tried.
constexpr int kMaxCollisionNumber = 9999;

// Whether an EXIF date text has digits in every position the name takes ("YYYY:MM:DD hh:mm:ss").
// The text comes from the file, so anything else (a "/", a NUL, letters) is not used.
bool exifDateTimeUsable(const char* exifDateTime);

// The stem of an output name. exifDateTime is the EXIF text "YYYY:MM:DD hh:mm:ss" of the entry,
// or null when its load found none; NameSet 1 falls back to the source name for both a missing
// and an unusable date.
// processedCount is the entry's position among the processed entries of the job, from 0.
QString outputStem(const NamingRules& rules, QStringView entryName, int64_t processedCount,
                   const char* exifDateTime);

// prefix + stem + suffix + extension, without a folder.
QString outputFileName(const NamingRules& rules, QStringView entryName, int64_t processedCount,
                       const char* exifDateTime);

// folder + "/" (unless it already ends with one) + name.
QString joinPath(const QString& folder, const QString& name);

// The one check every generated file name passes before it is used: not empty, not "." or "..",
// no "/" and no NUL (so it stays in folder), and within the file system's limits.
bool isUsableOutputName(const QString& folder, const QString& name);
// What that check finds wrong with name, in a few words ("it holds a \"/\""), or null when the
// name is usable.
const char* outputNameFault(const QString& folder, const QString& name);

// Whether a folder path below folder ("a/b/": parts ending in "/", as a walk or an archive member
// gives it) has parts that each pass isUsableOutputName, so that it stays inside folder: an
// absolute path, an empty part, "." and ".." all fail; "" passes.
bool isUsableOutputFolderPath(const QString& folder, const QString& relative);

// The full output path of an entry in outputFolder, made free by resolveCollision; empty when the
// name is not usable or no free name was found.
QString makeOutputPath(const NamingRules& rules, const QString& outputFolder, QStringView entryName,
                       int64_t processedCount, const char* exifDateTime);

// path itself when nothing exists there; else the first of "base+1.ext" ... "base+9999.ext" that is
// free; empty when all are taken or the name grows past what the file system accepts.
QString resolveCollision(const QString& path);

// Whether a name (and the path it lies in) is within the file system's limits.
bool fitsPathLimits(const QString& folder, const QString& name);

// The names an output folder already holds that end in extension (any kind of entry: a folder or
// a link of that name blocks it on disk too).
QStringList existingOutputNames(const QString& outputFolder, const QString& extension);

// The preview's naming of one entry against table, the names taken so far. Adds the chosen name to
// table and returns it; empty (and the table unchanged) when no free name exists. Names compare
// exactly, as the file system here does.
QString previewOutputName(const NamingRules& rules, const QString& outputFolder, QStringView entryName,
                          int64_t processedCount, const char* exifDateTime, QStringList& table);

}  // namespace velorin
