// The program's own settings: window, folder tree, start-up folders, histories, plug-ins.
// Fields keep the key names of the settings file.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <span>

#include "settings/conversion_settings.h"

namespace velorin {

inline constexpr int kHistoryLength = 16;
inline constexpr int kInputHistoryBase = 22;   // IH0..IH15
inline constexpr int kOutputHistoryBase = 38;  // OH0..OH15
inline constexpr int kFolderListSlot = 54;
inline constexpr int kPluginFilesSlot = 383;
inline constexpr int kFolderFlagsSlot = 394;
inline constexpr int kSecondTreeOptionSlot = 395;

struct ApplicationSettings {
  QString LangFile;       // file name of the language module
  int32_t WinX = 200;     // main window's normal position
  int32_t WinY = 100;
  int32_t Hidden = 2;     // attribute mask of files left out of the file list
  bool ShowZip = true;    // archives in the folder tree
  bool DTExpand = true;
  bool EndMes = true;     // message box at the end of a job, else the title bar
  bool FileMes = true;    // warn when the folder changed before a job
  bool Reset = false;     // switch the conversion options off at shutdown
  bool SdToCvt = false;   // convert files named on the command line at once
  bool TipAct = true;
  bool FileBg = true;     // flatten transparency onto the file's own background colour
  int32_t FHeight = -12;  // -12 or -14
  int32_t FWeight = 400;  // 400 or 700
  int32_t IIFolder = 0;   // input folder at start-up: 0 none, 1 IEPath, 2 ISPath
  int32_t OIFolder = 0;   // output folder at start-up: 0 none, 1 OEPath, 2 OSPath
  QString ISPath, OSPath, IEPath, OEPath;
  QString SdToPath;       // output folder of command-line conversion
  QString SPI;            // image plug-in folder

  // Slots 22..37 and 38..53 in list order; reading gives all 16 (empty where nothing is
  // stored). Writing stores as many as the list holds and leaves the other slots as they were.
  QStringList inputHistory;
  QStringList outputHistory;

  QStringList FolderList;    // folders of the folder pane
  QByteArray folderFlags;    // one flag byte per FolderList entry (slot 394)
  QStringList pluginFiles;   // names of the image plug-in files (slot 383)
  bool secondTreeOption = true;  // slot 395

  bool operator==(const ApplicationSettings&) const = default;
};

// The scalar application settings with their slots (0..21), for the old text format and for
// listing; the histories and lists have their own slots.
struct ApplicationField {
  const char* key;
  int slot;
  SettingKind kind;
  int32_t ApplicationSettings::*intMember = nullptr;
  bool ApplicationSettings::*flagMember = nullptr;
  QString ApplicationSettings::*stringMember = nullptr;
};
std::span<const ApplicationField> applicationSettingFields();

// Only -12 and -14 are font heights, only 400 and 700 weights; anything else reads as the
// first.
void applyApplicationCorrections(ApplicationSettings& settings);

class SettingsReader;
class SettingsWriter;

// picturesFolder becomes the folder list when the file has no folder-list slot.
ApplicationSettings readApplicationSettings(const SettingsReader& reader,
                                            const QString& picturesFolder);
void writeApplicationSettings(SettingsWriter& writer, const ApplicationSettings& settings);

}  // namespace velorin
