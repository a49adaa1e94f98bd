// The per-file pipeline: one input becomes one temporary output file. Never writes to the
// output folder; the job copies the temporary file to its final name and deletes it.
#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <string>

#include "engine/file_entry.h"
#include "engine/memory_budget.h"
#include "formats/bmp_reader.h"
#include "formats/bmp_writer.h"
#include "formats/gif_reader.h"
#include "formats/gif_writer.h"
#include "formats/jpeg_reader.h"
#include "formats/jpeg_writer.h"
#include "formats/png_reader.h"
#include "formats/png_writer.h"
#include "formats/tiff_reader.h"
#include "formats/tiff_writer.h"
#include "imaging/processing.h"
#include "platform/atomic_file.h"
#include "settings/conversion_settings.h"
#include "sources/plugin_host.h"
#include "sources/rar_archive.h"

namespace velorin {

// Result of the signature test; the numbers equal the record's sourceFormat.
enum class FileType : int32_t { Unknown = 0, Bmp = 1, Png = 2, Jpeg = 3, Tiff = 4, Gif = 5, Unreadable = 6 };

FileType detectFileType(const uint8_t* bytes, size_t length);
FileType detectFileTypeOfPath(const QString& path);

enum class NamingRule { SourceName, ExifDate, SerialNumber };
enum class ConversionRoute { DecodeProcessEncode, LosslessTransform };
enum class OutputFormat { Bmp, Png, Jpeg, Tiff, Gif };

// What prepareJob fixes for a whole job.
struct JobPlan {
  NamingRule naming = NamingRule::SourceName;
  ConversionRoute route = ConversionRoute::DecodeProcessEncode;
  OutputFormat writer = OutputFormat::Jpeg;
  QString extension;      // with the dot: ".jpg"
  int32_t outputDepth = 0;  // 0: keep the working depth
  bool greyscale = false;
};

JobPlan prepareJob(const ConversionSettings& settings);

// Why the last entry failed, for the headless mode and the trial window.
struct FailureReason {
  const char* stage = "";  // "load", "temporary file", "processing", "write"
  Status status = Status::Ok;
  std::string detail;  // said instead of the status's own text when set
};

// "load failed: not a file of this format", for reports.
std::string failureText(const FailureReason& failure);

// Everything one job (or one preview) needs, allocated as a whole and owned by its runner; two
// workspaces can run in two threads.
struct JobWorkspace {
  ConversionSettings settings;
  JobPlan plan;
  QString temporaryFolder;
  SourceKind sourceKind = SourceKind::Folder;
  QString archivePath;  // the archive of an archive list
  bool fileBackground = true;  // FileBg: flatten transparency onto the file's own background
  QString pluginFolder;        // SPI: the image plug-in folder, empty when none

  WorkingImage image;
  BmpReader bmpReader;
  PngReader pngReader;
  JpegReader jpegReader;
  TiffReader tiffReader;
  GifReader gifReader;
  BmpWriter bmpWriter;
  PngWriter pngWriter;
  JpegWriter jpegWriter;
  TiffWriter tiffWriter;
  GifWriter gifWriter;
  ProcessingTables tables;
  RarContext rarContext;  // the job's RAR library, kept bound, and its password
  PluginHost pluginHost;  // its folder follows pluginFolder; the job fills the disabled list

  FailureReason failure;
  // Why the last loaded or transformed source is damaged although it converted (its reader's
  // words); empty when it was whole. A damaged source is never removed after its conversion.
  std::string damage;
  // The running conversion's share of the memory budget, taken before its first block.
  MemoryReservation reservation;
  int64_t reservedSourceBytes = 0;  // the part of it that holds the source's own bytes
};

// Fixes the plan from the settings and builds the processing tables. Null when memory runs out.
std::unique_ptr<JobWorkspace> createJobWorkspace(const ConversionSettings& settings);

// Each load first reserves its conversion's whole estimate against the memory budget (a member of
// an archive: with the member's own bytes) and fails with BadImage when that exceeds the whole
// budget; the reservation is held until convertFile ends or the workspace goes.
// Loads a file into the working image, falling back to the plug-ins when a plug-in folder is set.
bool loadFromPath(JobWorkspace& workspace, const QString& path);
// Loads an in-memory copy of a file (an archive member) the same way; name is the member's name.
bool loadFromMemory(JobWorkspace& workspace, const uint8_t* bytes, size_t length,
                    const QString& name);
// Loads a member of the workspace's archive.
bool loadFromEntry(JobWorkspace& workspace, const FileEntry& entry);
// Extracts a member of the workspace's archive whole into member; false when it cannot.
bool extractEntry(JobWorkspace& workspace, const FileEntry& entry, PixelBuffer& member);

// The EXIF DateTimeOriginal of a JPEG input for the name preview: from the file at sourcePath,
// or from the member extracted from the workspace's archive when entry is given there. False
// when the input is no JPEG or has no date.
bool readInputExifDate(JobWorkspace& workspace, const FileEntry* entry, const QString& sourcePath,
                       char (&dateTime)[20]);

// Converts one entry (or the file at sourcePath when the list is a folder) into a new temporary
// file in the workspace's temporary folder, handed over in result. It has no name where the file
// system allows, so nothing is left in the folder on failure or when the process is killed.
bool convertFile(JobWorkspace& workspace, const FileEntry* entry, const QString& sourcePath,
                 PendingFile& result);

}  // namespace velorin
