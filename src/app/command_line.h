// The headless command line: its options, their strict checking and the texts it prints
// (help, version, the settings listing). Turning the options into a run is main.cpp's part.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

#include "engine/job.h"
#include "settings/conversion_settings.h"

namespace velorin {

struct CommandLine {
  bool convert = false;
  bool help = false;
  bool version = false;
  bool listSettings = false;
  bool dryRun = false;
  bool verbose = false;
  bool quiet = false;
  bool recursive = false;
  bool makeOutputFolder = false;  // --mkdir
  bool nullSeparated = false;     // -0: --files-from names end in NUL
  TakenOutputName takenName = TakenOutputName::NextFree;
  int preset = 0;
  int jobs = 0;              // 0: one per processor
  int64_t memoryLimit = 0;   // bytes; 0: the default budget
  QString settingsFile;
  QString outputFolder;
  QString filesFrom;
  // Conversion settings as KEY=VALUE: the named options' (always valid), then --set's in order.
  QStringList namedAssignments;
  QStringList setAssignments;
  // The application settings a job reads (Hidden, FileBg, SPI, SdToPath), in order.
  QStringList applicationAssignments;
  QStringList inputs;
};

// Parses the arguments (the program name first). False with a one-line message for a usage
// error: an unknown option, a missing or bad value (the message names the valid values).
bool parseCommandLine(const QStringList& arguments, CommandLine& line, QString& error);

QString helpText();
QString versionText();

// Whether KEY=VALUE names one of the application settings; valid tells whether its value is.
bool isApplicationAssignment(const QString& assignment, bool& valid);

// Checks one --set for a conversion setting: false with a message when the key is unknown or the
// value unusable; else correction is set to "KEY=VALUE" when the value had to be changed.
bool checkSetAssignment(const QString& assignment, QString& correction, QString& error);

// Every setting as Key=Value in slot order, then the application settings; with meanings, each
// line is followed by an indented line with the key's meaning and range.
QStringList settingsListing(const ConversionSettings& settings, const JobOptions& options,
                            const QString& SdToPath, bool withMeanings);

}  // namespace velorin
