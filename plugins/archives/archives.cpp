// Archive plug-in on libarchive: 7z, tar (plain, gzip, bzip2, xz), LZH/LHA, and the comic-book
// forms CBZ, CB7 and CBT. Members are listed in archive order; a member's position is its index
// among all entries, so GetFile finds it again by walking to it.
#include <archive.h>
#include <archive_entry.h>
#include <locale.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "../utf8_locale.h"
#include "velorin_spi.h"

namespace {

class Reader {
 public:
  explicit Reader(const char* path) {
    reader_ = archive_read_new();
    archive_read_support_filter_all(reader_);
    archive_read_support_format_7zip(reader_);
    archive_read_support_format_tar(reader_);
    archive_read_support_format_lha(reader_);
    archive_read_support_format_zip(reader_);
    opened_ = archive_read_open_filename(reader_, path, 65536) == ARCHIVE_OK;
  }
  ~Reader() { archive_read_free(reader_); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  bool opened() const { return opened_; }
  archive* get() const { return reader_; }

 private:
  archive* reader_;
  bool opened_ = false;
};

std::string lowerName(const char* name) {
  std::string s = name ? name : "";
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool endsWith(const std::string& s, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

void copyField(char* field, size_t capacity, const std::string& text) {
  const size_t n = std::min(text.size(), capacity - 1);
  std::memcpy(field, text.data(), n);
  field[n] = 0;
}

int copyText(const char* text, char* buffer, int size) {
  if (!buffer || size <= 0) return 0;
  const int length = static_cast<int>(std::strlen(text));
  const int n = length < size - 1 ? length : size - 1;
  std::memcpy(buffer, text, n);
  buffer[n] = 0;
  return n;
}

}  // namespace

SPI_EXPORT int GetPluginInfo(int index, char* buffer, int size) {
  static const char* const kTexts[] = {
      "00AM", "Velorin archive plug-in 1.0",
      "*.7z;*.cb7", "7-Zip archives",
      "*.tar;*.tgz;*.tbz2;*.txz;*.cbt", "tar archives",
      "*.lzh;*.lha", "LHA archives",
      "*.cbz", "Comic book archives"};
  if (index < 0 || index >= static_cast<int>(sizeof kTexts / sizeof kTexts[0])) return 0;
  return copyText(kTexts[index], buffer, size);
}

SPI_EXPORT int IsSupported(const char* name, const void* header) {
  const auto* h = static_cast<const uint8_t*>(header);
  if (!h) return 0;
  const std::string lower = lowerName(name);
  static const uint8_t k7z[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
  if (std::memcmp(h, k7z, 6) == 0) return 1;
  if (std::memcmp(h + 257, "ustar", 5) == 0) return 1;
  if (h[2] == '-' && h[3] == 'l' && (h[4] == 'h' || h[4] == 'z') && h[6] == '-') return 1;
  // Compressed data is taken only when the name says a tar archive is inside.
  const bool tarName = lower.find(".tar.") != std::string::npos || endsWith(lower, ".tgz") ||
                       endsWith(lower, ".tbz2") || endsWith(lower, ".tbz") || endsWith(lower, ".txz") ||
                       endsWith(lower, ".cbt");
  const bool gzip = h[0] == 0x1F && h[1] == 0x8B;
  const bool bzip2 = h[0] == 'B' && h[1] == 'Z' && h[2] == 'h';
  static const uint8_t kXz[6] = {0xFD, '7', 'z', 'X', 'Z', 0};
  if (tarName && (gzip || bzip2 || std::memcmp(h, kXz, 6) == 0)) return 1;
  // ZIP is read by the program itself; only the comic-book name is taken here.
  if (endsWith(lower, ".cbz") && h[0] == 'P' && h[1] == 'K' && h[2] == 3 && h[3] == 4) return 1;
  return 0;
}

SPI_EXPORT int GetArchiveInfo(const char* buf, intptr_t, unsigned int flag, HLOCAL* table) {
  if (!table || (flag & 7) != SPI_SOURCE_FILE) return SPI_NOT_IMPLEMENTED;
  const Utf8Locale utf8;
  Reader reader(buf);
  if (!reader.opened()) return SPI_FILE_READ_ERROR;
  std::vector<SpiFileInfo> members;
  archive_entry* entry;
  const char* format = nullptr;
  for (uint64_t index = 0; archive_read_next_header(reader.get(), &entry) >= ARCHIVE_WARN; ++index) {
    if (!format) format = archive_format_name(reader.get());
    if (archive_entry_filetype(entry) != AE_IFREG) continue;
    SpiFileInfo info{};
    copyField(reinterpret_cast<char*>(info.method), sizeof info.method, format ? format : "archive");
    if (info.method[0] == 0) info.method[0] = '?';
    const char* utf8Name = archive_entry_pathname_utf8(entry);
    const std::string path = utf8Name ? utf8Name : archive_entry_pathname(entry) ? archive_entry_pathname(entry) : "";
    const size_t slash = path.rfind('/');
    copyField(info.path, sizeof info.path, slash == std::string::npos ? std::string() : path.substr(0, slash + 1));
    copyField(info.filename, sizeof info.filename, slash == std::string::npos ? path : path.substr(slash + 1));
    info.position = index;
    info.filesize = archive_entry_size_is_set(entry) ? static_cast<uint64_t>(archive_entry_size(entry)) : 0;
    info.compsize = info.filesize;
    info.timestamp = archive_entry_mtime_is_set(entry) ? archive_entry_mtime(entry) : 0;
    members.push_back(info);
  }
  // One empty record ends the table.
  HLOCAL handle = spiLocalAlloc((members.size() + 1) * sizeof(SpiFileInfo));
  if (!handle) return SPI_NO_MEMORY;
  if (!members.empty()) std::memcpy(spiLocalLock(handle), members.data(), members.size() * sizeof(SpiFileInfo));
  *table = handle;
  return SPI_SUCCESS;
}

SPI_EXPORT int GetFile(const char* buf, intptr_t len, char* dest, unsigned int flag, SpiProgressCallback progress,
                       intptr_t data) {
  if (!dest || (flag & 7) != SPI_SOURCE_FILE || (flag & 0x700) != SPI_DEST_MEMORY || len < 0)
    return SPI_NOT_IMPLEMENTED;
  const Utf8Locale utf8;
  Reader reader(buf);
  if (!reader.opened()) return SPI_FILE_READ_ERROR;
  archive_entry* entry;
  for (intptr_t index = 0; archive_read_next_header(reader.get(), &entry) >= ARCHIVE_WARN; ++index) {
    if (index < len) continue;
    if (archive_entry_filetype(entry) != AE_IFREG) return SPI_UNKNOWN_FORMAT;
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    la_ssize_t got;
    while ((got = archive_read_data(reader.get(), chunk, sizeof chunk)) > 0) {
      bytes.insert(bytes.end(), chunk, chunk + got);
      if (bytes.size() >= (uint64_t{1} << 32)) return SPI_NO_MEMORY;
      if (progress && progress(0, 1, data)) return SPI_CANCELLED;
    }
    if (got < 0) return SPI_BROKEN_DATA;
    HLOCAL handle = spiLocalAlloc(bytes.size());
    if (!handle) return SPI_NO_MEMORY;
    if (!bytes.empty()) std::memcpy(spiLocalLock(handle), bytes.data(), bytes.size());
    *reinterpret_cast<HLOCAL*>(dest) = handle;
    return SPI_SUCCESS;
  }
  return SPI_BROKEN_DATA;
}

SPI_EXPORT int ConfigurationDlg(void*, int) { return SPI_NOT_IMPLEMENTED; }
