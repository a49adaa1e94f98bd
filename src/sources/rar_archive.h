// RAR archives through the extraction library loaded at run time (libunrar.so, unrar_api.h).
//
// The library is looked for in the plug-in folder, the program's folder, the system library path
// and the program's shipped plug-in folder. The program ships its own under a name of its own, so
// that it never stands in for the system's library of the published name. Listings bind and free it around themselves; a job keeps it bound in its RarContext
// from start to end. Every function returns nothing or false on failure; the caller treats the
// archive or the member as unreadable.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

#include "sources/member_list.h"
#include "sources/unrar_api.h"

namespace velorin {

inline constexpr const char* kUnrarLibraryName = "libunrar.so";
inline constexpr const char* kShippedUnrarLibraryName = "libvelorin-unrar.so";

// A bound library: the handle and its four entry points; unloads itself.
class RarLibrary {
 public:
  RarLibrary() = default;
  RarLibrary(const RarLibrary&) = delete;
  RarLibrary& operator=(const RarLibrary&) = delete;
  RarLibrary(RarLibrary&& other) noexcept { *this = std::move(other); }
  RarLibrary& operator=(RarLibrary&& other) noexcept;
  ~RarLibrary() { unload(); }

  // Loads the first library of the search order that has all four entry points.
  bool bind(const QString& pluginFolder);
  void unload();
  bool bound() const { return handle_ != nullptr; }

  RAROpenArchiveExFunction openArchive = nullptr;
  RARCloseArchiveFunction closeArchive = nullptr;
  RARReadHeaderExFunction readHeader = nullptr;
  RARProcessFileWFunction processFile = nullptr;

 private:
  bool load(const QString& file);
  void* handle_ = nullptr;
};

// Asks the user for a password; false when the user cancelled. The text starts with the one
// given earlier in the same context.
using PasswordPrompt = std::function<bool(QString& password)>;

// An archive a job leaves open between two extractions: members taken in archive order then
// cost one pass over the archive, which a solid archive must decode from its start to reach
// any member.
struct KeptRarArchive {
  KeptRarArchive() = default;
  // The library's callback points at the context that opened the archive, so a moved context
  // starts with none open (the next extraction opens it again).
  KeptRarArchive(KeptRarArchive&& other) noexcept { other.close(); }
  KeptRarArchive& operator=(KeptRarArchive&& other) noexcept {
    close();
    other.close();
    return *this;
  }
  ~KeptRarArchive() { close(); }
  void close();

  void* handle = nullptr;
  RARCloseArchiveFunction closeArchive = nullptr;
  QString path;            // as the job named it
  uint32_t nextIndex = 0;  // the header the next read returns
};

// One for a conversion job (with its workspace) and one per listing.
struct RarContext {
  bool busy = false;
  QString password;
  bool passwordGiven = false;
  bool extracting = false;
  uint8_t* writePosition = nullptr;
  uint8_t* blockEnd = nullptr;
  RarLibrary keptLibrary;  // bound for a whole job over a RAR archive
  KeptRarArchive keptArchive;  // open on keptLibrary between extractions; closed before it unloads
  QString pluginFolder;    // SPI: first place to look for the library
  PasswordPrompt askPassword;  // the job's host; without one, a needed password fails the member
};

// The library files of the search order exist (the folder tree shows RAR archives only then).
bool rarAvailable(const QString& pluginFolder);

// The volume class of an archive: 0 not a volume, 1 a volume with the old naming, 2 a later
// volume with the ".partN.rar" naming, 3 its first volume; -1 when it cannot be opened.
int probeRar(const RarLibrary& library, const QString& archivePath);

// The name of the first volume of a ".partN.rar" set, given any of its volumes.
QString firstRarVolume(const QString& volumePath);

// Every header of the archive (folders included; the member position is the header index)
// with the archive's last-write time. The listing's own context asks for a password at most
// once and forgets it afterwards.
std::optional<MemberList> listRar(const QString& archivePath, const QString& pluginFolder,
                                  const PasswordPrompt& askPassword = {});

// The member at index, whole, through the library's data callback. Uses the context's kept
// library or binds one for this call. With a kept library the archive stays open after the
// call, and a later member of the same archive is reached from there without reopening it.
bool extractRar(RarContext& context, const QString& archivePath, uint32_t index, PixelBuffer& block);

// Binds the library for a whole job; the job frees it (and the archive left open) with
// releaseRarLibrary at its end.
bool keepRarLibrary(RarContext& context);
void releaseRarLibrary(RarContext& context);

}  // namespace velorin
