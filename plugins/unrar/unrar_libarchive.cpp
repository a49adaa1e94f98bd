// The RAR extraction library shipped with Velorin: the published C API (unrar_api.h) on top of
// libarchive. It lists and extracts RAR 4 and RAR 5 archives, multi-volume sets included.
// libarchive cannot decrypt RAR members: encrypted members are flagged RHDF_ENCRYPTED and their
// processing fails with ERAR_MISSING_PASSWORD; archives with encrypted headers do not open.
#include <archive.h>
#include <locale.h>
#include <archive_entry.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "../utf8_locale.h"
#include "sources/unrar_api.h"

#define RAR_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::string utf8Of(const wchar_t* wide) {
  std::string out;
  for (; *wide; ++wide) {
    const auto c = static_cast<uint32_t>(*wide);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// UTF-8 to UTF-32; a malformed byte becomes U+FFFD.
std::wstring wideOf(const char* utf8) {
  std::wstring out;
  const auto* p = reinterpret_cast<const unsigned char*>(utf8);
  while (*p) {
    uint32_t c = *p;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (c >= 0x80 && c < 0xC0) extra = -1;
    ++p;
    if (extra > 0) {
      c &= 0x3F >> extra;
      for (int i = 0; i < extra; ++i, ++p) {
        if ((*p & 0xC0) != 0x80) {
          extra = -1;
          break;
        }
        c = c << 6 | (*p & 0x3F);
      }
    }
    out += extra < 0 ? L'\xFFFD' : static_cast<wchar_t>(c);
  }
  return out;
}

uint64_t readVint(const uint8_t*& p, const uint8_t* end) {
  uint64_t value = 0;
  for (int shift = 0; p < end && shift < 64; shift += 7) {
    const uint8_t b = *p++;
    value |= static_cast<uint64_t>(b & 0x7F) << shift;
    if (!(b & 0x80)) break;
  }
  return value;
}

// The archive flags from the main header of a volume; false when it is no RAR archive.
bool readArchiveFlags(const std::string& path, unsigned& flags) {
  flags = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  uint8_t head[64] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  const auto got = static_cast<size_t>(in.gcount());
  static const uint8_t kRar4[7] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
  static const uint8_t kRar5[8] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
  if (got >= 7 + 7 && std::memcmp(head, kRar4, 7) == 0) {
    // Main header: CRC (2), type 0x73 (1), flags (2); its flag bits are the open record's.
    if (head[9] != 0x73) return true;
    flags = (head[10] | head[11] << 8) & 0x01FF;
    return true;
  }
  if (got >= 8 && std::memcmp(head, kRar5, 8) == 0) {
    const uint8_t* p = head + 8 + 4;  // after the signature and the header CRC
    const uint8_t* end = head + got;
    readVint(p, end);  // header size
    const uint64_t type = readVint(p, end);
    if (type == 4) {   // archive encryption header: everything after it is encrypted
      flags = ROADF_ENCHEADERS;
      return true;
    }
    if (type != 1) return true;
    const uint64_t headerFlags = readVint(p, end);
    if (headerFlags & 1) readVint(p, end);  // extra area size
    if (headerFlags & 2) readVint(p, end);  // data size
    const uint64_t archiveFlags = readVint(p, end);
    if (archiveFlags & 0x01) {
      flags |= ROADF_VOLUME | ROADF_NEWNUMBERING;
      if (!(archiveFlags & 0x02)) flags |= ROADF_FIRSTVOLUME;  // only later volumes carry a number
    }
    if (archiveFlags & 0x04) flags |= ROADF_SOLID;
    if (archiveFlags & 0x08) flags |= ROADF_RECOVERY;
    if (archiveFlags & 0x10) flags |= ROADF_LOCK;
    return true;
  }
  return false;
}

bool exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::is_regular_file(path, ignored);
}

// The volumes from the given one onwards, and the name of the first missing successor.
std::vector<std::string> volumesFrom(const std::string& path, unsigned flags, std::string& nextMissing) {
  std::vector<std::string> volumes{path};
  nextMissing.clear();
  if (!(flags & ROADF_VOLUME)) return volumes;
  // Some writers leave the naming flag off although they name the volumes "partN".
  const bool partNaming = path.size() > 9 && std::regex_search(path, std::regex(R"(\.part[0-9]+\.rar$)", std::regex::icase));
  if ((flags & ROADF_NEWNUMBERING) || partNaming) {
    // "name.partN.rar": the digits before the last ".rar".
    const size_t dot = path.rfind('.');
    size_t digitsEnd = dot, digitsStart = dot;
    while (digitsStart > 0 && std::isdigit(static_cast<unsigned char>(path[digitsStart - 1]))) --digitsStart;
    if (dot == std::string::npos || digitsStart == digitsEnd) return volumes;
    const size_t width = digitsEnd - digitsStart;
    unsigned long number = std::stoul(path.substr(digitsStart, width));
    for (;;) {
      std::string digits = std::to_string(++number);
      if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
      const std::string next = path.substr(0, digitsStart) + digits + path.substr(digitsEnd);
      if (!exists(next)) {
        nextMissing = next;
        break;
      }
      volumes.push_back(next);
    }
    return volumes;
  }
  // Old naming: name.rar, name.r00, name.r01, ...
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos) return volumes;
  for (int n = 0; n < 100; ++n) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ".r%02d", n);
    const std::string next = path.substr(0, dot) + suffix;
    if (!exists(next)) {
      nextMissing = next;
      break;
    }
    volumes.push_back(next);
  }
  return volumes;
}

struct Archive {
  archive* reader = nullptr;
  std::vector<std::string> volumes;
  std::vector<const char*> volumeNames;
  std::string nextMissing;
  std::wstring name;
  unsigned mode = 0;
  UNRARCALLBACK callback = nullptr;
  long userData = 0;
  archive_entry* entry = nullptr;
  bool encrypted = false;
  std::wstring entryName;
};

// A read that ran out of volumes: tell the host which one is missing.
int volumeFailure(Archive& a) {
  if (a.nextMissing.empty() || !a.callback) return ERAR_BAD_DATA;
  std::wstring wide = wideOf(a.nextMissing.c_str());
  a.callback(UCM_CHANGEVOLUMEW, a.userData, reinterpret_cast<long>(wide.data()), RAR_VOL_ASK);
  return ERAR_EOPEN;
}

unsigned dosTimeOf(time_t t) {
  struct tm local {};
  if (!localtime_r(&t, &local) || local.tm_year < 80) return 0;
  return static_cast<unsigned>((local.tm_year - 80) << 25 | (local.tm_mon + 1) << 21 | local.tm_mday << 16 |
                               local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
}

void copyWide(wchar_t* out, size_t capacity, const std::wstring& text) {
  const size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
  std::wmemcpy(out, text.data(), n);
  out[n] = 0;
}

void copyNarrow(char* out, size_t capacity, const std::string& text) {
  const size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
  std::memcpy(out, text.data(), n);
  out[n] = 0;
}

}  // namespace

RAR_EXPORT int RARGetDllVersion() { return 9; }

RAR_EXPORT void* RAROpenArchiveEx(RAROpenArchiveDataEx* data) {
  const Utf8Locale utf8Locale;
  if (!data) return nullptr;
  const std::string path = data->ArcNameW ? utf8Of(data->ArcNameW) : data->ArcName ? data->ArcName : "";
  data->Flags = 0;
  data->CmtSize = 0;
  data->CmtState = 0;
  unsigned flags = 0;
  if (!exists(path)) {
    data->OpenResult = ERAR_EOPEN;
    return nullptr;
  }
  if (!readArchiveFlags(path, flags)) {
    data->OpenResult = ERAR_BAD_ARCHIVE;
    return nullptr;
  }
  data->Flags = flags;
  if (flags & ROADF_ENCHEADERS) {  // libarchive cannot read encrypted headers
    data->OpenResult = ERAR_MISSING_PASSWORD;
    return nullptr;
  }
  auto* a = new Archive;
  a->volumes = volumesFrom(path, flags, a->nextMissing);
  for (const std::string& v : a->volumes) a->volumeNames.push_back(v.c_str());
  a->volumeNames.push_back(nullptr);
  a->name = data->ArcNameW ? data->ArcNameW : wideOf(path.c_str());
  a->mode = data->OpenMode;
  a->callback = data->Callback;
  a->userData = data->UserData;
  a->reader = archive_read_new();
  archive_read_support_format_rar(a->reader);
  archive_read_support_format_rar5(a->reader);
  if (archive_read_open_filenames(a->reader, a->volumeNames.data(), 65536) != ARCHIVE_OK) {
    archive_read_free(a->reader);
    delete a;
    data->OpenResult = ERAR_BAD_ARCHIVE;
    return nullptr;
  }
  data->OpenResult = ERAR_SUCCESS;
  return a;
}

RAR_EXPORT int RARCloseArchive(void* handle) {
  const Utf8Locale utf8Locale;
  auto* a = static_cast<Archive*>(handle);
  if (!a) return ERAR_ECLOSE;
  archive_read_free(a->reader);
  delete a;
  return ERAR_SUCCESS;
}

RAR_EXPORT void RARSetCallback(void* handle, UNRARCALLBACK callback, long userData) {
  auto* a = static_cast<Archive*>(handle);
  if (!a) return;
  a->callback = callback;
  a->userData = userData;
}

RAR_EXPORT int RARReadHeaderEx(void* handle, RARHeaderDataEx* header) {
  const Utf8Locale utf8Locale;
  auto* a = static_cast<Archive*>(handle);
  if (!a || !header) return ERAR_BAD_DATA;
  archive_entry* entry = nullptr;
  const int r = archive_read_next_header(a->reader, &entry);
  if (r == ARCHIVE_EOF) return ERAR_END_ARCHIVE;
  if (r < ARCHIVE_WARN) return volumeFailure(*a);
  a->entry = entry;
  const char* utf8 = archive_entry_pathname_utf8(entry);
  const char* narrow = archive_entry_pathname(entry);
  a->entryName = utf8 ? wideOf(utf8) : narrow ? wideOf(narrow) : std::wstring();
  a->encrypted = archive_entry_is_encrypted(entry) != 0;

  copyNarrow(header->ArcName, sizeof header->ArcName, utf8Of(a->name.c_str()));
  copyWide(header->ArcNameW, 1024, a->name);
  copyNarrow(header->FileName, sizeof header->FileName, utf8 ? utf8 : narrow ? narrow : "");
  copyWide(header->FileNameW, 1024, a->entryName);
  const auto size = static_cast<uint64_t>(archive_entry_size(entry));
  header->UnpSize = static_cast<unsigned>(size);
  header->UnpSizeHigh = static_cast<unsigned>(size >> 32);
  header->PackSize = header->UnpSize;  // libarchive does not tell the packed size
  header->PackSizeHigh = header->UnpSizeHigh;
  header->Flags = (archive_entry_filetype(entry) == AE_IFDIR ? RHDF_DIRECTORY : 0) |
                  (a->encrypted ? RHDF_ENCRYPTED : 0);
  header->HostOS = 3;
  header->FileCRC = 0;
  header->FileTime = dosTimeOf(archive_entry_mtime(entry));
  header->FileAttr = archive_entry_mode(entry);
  const int64_t ticks = static_cast<int64_t>(archive_entry_mtime(entry)) * 10000000 +
                        archive_entry_mtime_nsec(entry) / 100 + 116444736000000000;
  header->MtimeLow = static_cast<unsigned>(ticks);
  header->MtimeHigh = static_cast<unsigned>(static_cast<uint64_t>(ticks) >> 32);
  header->CmtSize = 0;
  header->CmtState = 0;
  return ERAR_SUCCESS;
}

RAR_EXPORT int RARProcessFileW(void* handle, int operation, wchar_t* destPath, wchar_t* destName) {
  const Utf8Locale utf8Locale;
  auto* a = static_cast<Archive*>(handle);
  if (!a || !a->entry) return ERAR_BAD_DATA;
  a->entry = nullptr;
  if (operation == RAR_SKIP || (a->mode == RAR_OM_LIST && operation != RAR_TEST)) {
    return archive_read_data_skip(a->reader) == ARCHIVE_OK ? ERAR_SUCCESS : volumeFailure(*a);
  }
  if (a->encrypted) return ERAR_MISSING_PASSWORD;
  std::ofstream out;
  if (operation == RAR_EXTRACT) {
    std::filesystem::path target;
    if (destName && *destName) target = utf8Of(destName);
    else target = std::filesystem::path(destPath && *destPath ? utf8Of(destPath) : ".") / utf8Of(a->entryName.c_str());
    std::error_code ignored;
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ignored);
    out.open(target, std::ios::binary);
    if (!out) return ERAR_ECREATE;
  }
  std::vector<char> buffer(65536);
  for (;;) {
    const la_ssize_t got = archive_read_data(a->reader, buffer.data(), buffer.size());
    if (got == 0) break;
    if (got < 0) return volumeFailure(*a);
    if (a->callback && a->callback(UCM_PROCESSDATA, a->userData, reinterpret_cast<long>(buffer.data()),
                                   static_cast<long>(got)) < 0)
      return ERAR_UNKNOWN;
    if (out.is_open() && !out.write(buffer.data(), got)) return ERAR_EWRITE;
  }
  return ERAR_SUCCESS;
}
