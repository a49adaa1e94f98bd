// ZIP archive core: finding the end record, listing the central directory, extracting one member.
//
// Only the methods stored (0) and deflated (8) are read; encryption, multi-disk archives and
// ZIP64 are not supported (a ZIP64 size marker is refused). The reader works with positioned
// reads on an ArchiveSource and keeps no state between calls. Every function returns false on
// failure and then leaves nothing allocated in its outputs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/image.h"

namespace velorin {

// Positioned reads on an archive: the file itself, or a block in memory.
class ArchiveSource {
 public:
  virtual ~ArchiveSource() = default;
  virtual uint64_t size() const = 0;
  // Reads up to count bytes at offset; the number read, fewer at the end of the data.
  virtual size_t readAt(uint64_t offset, uint8_t* out, size_t count) const = 0;
};

class FileArchiveSource : public ArchiveSource {
 public:
  FileArchiveSource() = default;
  FileArchiveSource(const FileArchiveSource&) = delete;
  FileArchiveSource& operator=(const FileArchiveSource&) = delete;
  ~FileArchiveSource() override { close(); }
  // False when the path is not a readable regular file.
  bool open(const std::filesystem::path& path);
  void close();
  uint64_t size() const override { return size_; }
  size_t readAt(uint64_t offset, uint8_t* out, size_t count) const override;
  FileTime lastWriteTime() const { return lastWriteTime_; }

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  FileTime lastWriteTime_ = 0;
};

class MemoryArchiveSource : public ArchiveSource {
 public:
  MemoryArchiveSource(const uint8_t* bytes, size_t length) : bytes_(bytes), length_(length) {}
  uint64_t size() const override { return length_; }
  size_t readAt(uint64_t offset, uint8_t* out, size_t count) const override;

 private:
  const uint8_t* bytes_;
  size_t length_;
};

struct ZipEndRecord {
  uint64_t position = 0;  // where the record starts in the archive
  uint16_t recordCount = 0;
  uint32_t directoryOffset = 0;
};

// One central directory record with a method this reader extracts.
struct ZipRecord {
  std::string name;         // raw name bytes, at most kZipNameBytes of them
  std::string unicodeName;  // UTF-8 name of an Info-ZIP Unicode Path field that matches name
  bool utf8Flag = false;    // general purpose flag bit 11
  uint16_t method = 0;
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint32_t localHeaderOffset = 0;
};

// Names longer than this are cut: no file name of the desktop is longer.
inline constexpr size_t kZipNameBytes = 259;

// The deflate format cannot expand one input byte into more than about 1032 output bytes; a
// member declaring more is refused before anything is allocated for it.
inline constexpr uint64_t kMaxDeflateRatio = 1032;

bool findZipEndRecord(const ArchiveSource& source, ZipEndRecord& record);

// The records of methods 0 and 8 in directory order, and the number of records left out
// because of their method. False when the directory is unreadable or holds no such record.
bool listZipRecords(const ArchiveSource& source, std::vector<ZipRecord>& records,
                    uint32_t& skipped);

// Extracts the member whose local header starts at position into block (its length is the
// block's size). False for a damaged, unsupported, oversized or CRC-failing member.
bool extractZipMember(const ArchiveSource& source, uint32_t position, PixelBuffer& block);

// The first bytes of a member and the sizes its extraction will take, found without inflating
// the rest of it.
struct ZipMemberHead {
  std::vector<uint8_t> bytes;     // the first min(count, member size) bytes
  uint64_t compressedSize = 0;    // the compressed copy extraction holds (0 for a stored member)
  uint64_t uncompressedSize = 0;  // the member itself
};

// The head of the member at position; false when extractZipMember would refuse its header or
// its stream ends before count bytes (or the member's size).
bool peekZipMember(const ArchiveSource& source, uint32_t position, size_t count, ZipMemberHead& head);

// The standard CRC-32 of bytes, continuing from crc (0 to start).
uint32_t zipCrc32(uint32_t crc, const uint8_t* bytes, size_t length);

}  // namespace velorin
