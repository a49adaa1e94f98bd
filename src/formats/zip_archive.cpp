#include "formats/zip_archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "formats/crc32.h"
#include "formats/deflate.h"
#include "formats/input_file.h"

namespace velorin {

bool FileArchiveSource::open(const std::filesystem::path& path) {
  close();
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct stat info {};
  if (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    close();
    return false;
  }
  size_ = static_cast<uint64_t>(info.st_size);
  lastWriteTime_ = fileTimeFromPosix(info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
  return true;
}

void FileArchiveSource::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  size_ = 0;
  lastWriteTime_ = 0;
}

size_t FileArchiveSource::readAt(uint64_t offset, uint8_t* out, size_t count) const {
  size_t done = 0;
  while (fd_ >= 0 && done < count) {
    const ssize_t got = pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

size_t MemoryArchiveSource::readAt(uint64_t offset, uint8_t* out, size_t count) const {
  if (count == 0 || offset >= length_) return 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(count, length_ - offset));
  std::memcpy(out, bytes_ + offset, n);
  return n;
}

namespace {
// Whether a member's data has the CRC its headers record.
bool memberCrcMatches(const PixelBuffer& block, uint64_t size, uint32_t recorded) {
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
  return true;
#endif
  return zipCrc32(0, block.data(), size) == recorded;
}
}  // namespace

uint32_t zipCrc32(uint32_t crc, const uint8_t* bytes, size_t length) {
  return crc32Update(crc, bytes, length);
}

namespace {

constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr size_t kEndSize = 22;
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;
constexpr uint64_t kSearchStart = 65557;  // largest comment + record + 0
constexpr size_t kSearchWindow = 65538;
constexpr uint16_t kUnicodePathField = 0x7075;

bool readExactly(const ArchiveSource& source, uint64_t offset, uint8_t* out, size_t count) {
  return source.readAt(offset, out, count) == count;
}

void takeEndRecord(const uint8_t* bytes, uint64_t position, ZipEndRecord& record) {
  record.position = position;
  record.recordCount = loadLe16(bytes + 8);
  record.directoryOffset = loadLe32(bytes + 16);
}

// The Info-ZIP Unicode Path field carries the UTF-8 name and the CRC of the raw name it
// replaces; a field whose CRC does not match belongs to an older name and is ignored.
std::string unicodePathOf(const std::vector<uint8_t>& extra, const std::string& rawName) {
  size_t at = 0;
  while (at + 4 <= extra.size()) {
    const uint16_t id = loadLe16(&extra[at]);
    const uint16_t length = loadLe16(&extra[at + 2]);
    if (at + 4 + length > extra.size()) break;
    const uint8_t* field = &extra[at + 4];
    if (id == kUnicodePathField && length >= 5 && field[0] == 1) {
      const uint32_t crc = zipCrc32(0, reinterpret_cast<const uint8_t*>(rawName.data()), rawName.size());
      if (crc == loadLe32(field + 1))
        return std::string(reinterpret_cast<const char*>(field + 5), length - 5);
    }
    at += 4 + length;
  }
  return {};
}

bool readRecordAt(const ArchiveSource& source, uint64_t offset, uint8_t (&head)[kCentralSize]) {
  return readExactly(source, offset, head, kCentralSize) && loadLe32(head) == kCentralSignature;
}

// The central record of the member whose local header is at position.
bool findCentralRecord(const ArchiveSource& source, uint32_t position, uint32_t& crc,
                       uint32_t& compressedSize, uint32_t& uncompressedSize) {
  ZipEndRecord end;
  if (!findZipEndRecord(source, end)) return false;
  uint64_t offset = end.directoryOffset;
  for (uint32_t i = 0; i < end.recordCount; ++i) {
    uint8_t head[kCentralSize];
    if (!readRecordAt(source, offset, head)) return false;
    if (loadLe32(head + 42) == position) {
      crc = loadLe32(head + 16);
      compressedSize = loadLe32(head + 20);
      uncompressedSize = loadLe32(head + 24);
      return true;
    }
    offset += kCentralSize + loadLe16(head + 28) + loadLe16(head + 30) + loadLe16(head + 32);
  }
  return false;
}

bool inflateInto(const uint8_t* input, uint32_t inputSize, uint8_t* output, uint32_t outputSize) {
  // A stream that yields exactly the recorded size goes in one fast call; zlib keeps what that
  // call refuses, a stream with more data than the recorded size included.
  if (rawInflateExact(input, inputSize, output, outputSize)) return true;
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
  stream.next_in = const_cast<Bytef*>(input);
  stream.avail_in = inputSize;
  stream.next_out = output;
  stream.avail_out = outputSize;
  const int result = inflate(&stream, Z_NO_FLUSH);
  const uLong produced = stream.total_out;
  inflateEnd(&stream);
  // A stream that ends early would leave zeros behind that a weak CRC could still match.
  return (result == Z_OK || result == Z_STREAM_END) && produced == outputSize;
}

}  // namespace

bool findZipEndRecord(const ArchiveSource& source, ZipEndRecord& record) {
  const uint64_t size = source.size();
  if (size < kEndSize) return false;
  uint8_t tail[kEndSize];
  if (!readExactly(source, size - kEndSize, tail, kEndSize)) return false;
  if (loadLe32(tail) == kEndSignature) {
    takeEndRecord(tail, size - kEndSize, record);
    return true;
  }
  const uint64_t start = size > kSearchStart ? size - kSearchStart : 0;
  const size_t length = static_cast<size_t>(std::min<uint64_t>(kSearchWindow, size - start));
  std::vector<uint8_t> window(length + kEndSize, 0);
  const size_t got = source.readAt(start, window.data(), length + kEndSize);
  if (got < 4) return false;
  // A comment may itself contain the signature; the record whose comment length reaches exactly
  // to the end of the file is the real one. Without such a record the one nearest the end wins.
  bool found = false;
  for (size_t i = std::min(length, got - 3); i-- > 0;) {
    if (loadLe32(&window[i]) != kEndSignature) continue;
    if (i + kEndSize > got) continue;  // a signature in the last 21 bytes has no room for a record
    if (!found) {
      takeEndRecord(&window[i], start + i, record);
      found = true;
    }
    if (start + i + kEndSize + loadLe16(&window[i + 20]) == size) {
      takeEndRecord(&window[i], start + i, record);
      return true;
    }
  }
  return found;
}

bool listZipRecords(const ArchiveSource& source, std::vector<ZipRecord>& records,
                    uint32_t& skipped) {
  records.clear();
  skipped = 0;
  ZipEndRecord end;
  if (!findZipEndRecord(source, end) || end.recordCount == 0) return false;
  records.reserve(end.recordCount);
  uint64_t offset = end.directoryOffset;
  std::vector<uint8_t> name, extra;
  for (uint32_t i = 0; i < end.recordCount; ++i) {
    uint8_t head[kCentralSize];
    if (!readRecordAt(source, offset, head)) {
      records.clear();
      return false;
    }
    const uint16_t nameLength = loadLe16(head + 28);
    const uint16_t extraLength = loadLe16(head + 30);
    const uint16_t commentLength = loadLe16(head + 32);
    const uint16_t method = loadLe16(head + 10);
    if (method == 0 || method == 8) {
      ZipRecord r;
      r.utf8Flag = (loadLe16(head + 8) & 0x0800) != 0;
      r.method = method;
      r.dosTime = loadLe16(head + 12);
      r.dosDate = loadLe16(head + 14);
      r.crc = loadLe32(head + 16);
      r.compressedSize = loadLe32(head + 20);
      r.uncompressedSize = loadLe32(head + 24);
      r.localHeaderOffset = loadLe32(head + 42);
      name.resize(nameLength);
      extra.resize(extraLength);
      const size_t gotName = source.readAt(offset + kCentralSize, name.data(), nameLength);
      const size_t gotExtra = source.readAt(offset + kCentralSize + nameLength, extra.data(), extraLength);
      name.resize(gotName);
      extra.resize(gotExtra);
      const std::string fullName(name.begin(), name.end());
      r.unicodeName = unicodePathOf(extra, fullName);
      r.name = fullName.substr(0, kZipNameBytes);
      records.push_back(std::move(r));
    }
    offset += kCentralSize + nameLength + extraLength + commentLength;
  }
  if (records.empty()) return false;
  skipped = end.recordCount - static_cast<uint32_t>(records.size());
  return true;
}

namespace {

// A member's local header, its sizes checked against the archive: 0xFFFFFFFF marks ZIP64 data,
// and a declared size the stored bytes cannot produce is a decompression bomb.
struct LocalMember {
  uint16_t method = 0;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint64_t dataStart = 0;
};

bool readLocalMember(const ArchiveSource& source, uint32_t position, LocalMember& m) {
  uint8_t local[kLocalSize];
  if (!readExactly(source, position, local, kLocalSize) || loadLe32(local) != kLocalSignature)
    return false;
  const uint16_t flags = loadLe16(local + 6);
  m.method = loadLe16(local + 8);
  m.crc = loadLe32(local + 14);
  m.compressedSize = loadLe32(local + 18);
  m.uncompressedSize = loadLe32(local + 22);
  m.dataStart = uint64_t{position} + kLocalSize + loadLe16(local + 26) + loadLe16(local + 28);
  if ((flags & 0x0008) &&
      !findCentralRecord(source, position, m.crc, m.compressedSize, m.uncompressedSize))
    return false;
  if (m.dataStart > source.size()) return false;
  const uint64_t available = source.size() - m.dataStart;
  if (m.compressedSize == 0xFFFFFFFF || m.uncompressedSize == 0xFFFFFFFF) return false;
  if (m.method == 0) return m.uncompressedSize <= available;
  if (m.method != 8 || m.compressedSize > available) return false;
  return m.uncompressedSize <= uint64_t{m.compressedSize} * kMaxDeflateRatio + kMaxDeflateRatio;
}

}  // namespace

bool peekZipMember(const ArchiveSource& source, uint32_t position, size_t count, ZipMemberHead& head) {
  head = {};
  LocalMember m;
  if (!readLocalMember(source, position, m)) return false;
  head.compressedSize = m.method == 8 ? m.compressedSize : 0;
  head.uncompressedSize = m.uncompressedSize;
  const size_t want = std::min<size_t>(count, m.uncompressedSize);
  head.bytes.assign(want, 0);
  if (m.method == 0) return readExactly(source, m.dataStart, head.bytes.data(), want);
  // Only as much of the stream as the head needs is inflated, in small steps.
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
  uint8_t input[16384];
  uint64_t offset = m.dataStart;
  const uint64_t end = m.dataStart + m.compressedSize;
  stream.next_out = head.bytes.data();
  stream.avail_out = static_cast<uInt>(want);
  int result = Z_OK;
  while (stream.avail_out > 0 && result == Z_OK) {
    if (stream.avail_in == 0) {
      const size_t chunk = static_cast<size_t>(std::min<uint64_t>(sizeof input, end - offset));
      if (chunk == 0 || !readExactly(source, offset, input, chunk)) break;
      offset += chunk;
      stream.next_in = input;
      stream.avail_in = static_cast<uInt>(chunk);
    }
    result = inflate(&stream, Z_NO_FLUSH);
  }
  const size_t produced = want - stream.avail_out;
  inflateEnd(&stream);
  head.bytes.resize(produced);
  return produced == want;
}

bool extractZipMember(const ArchiveSource& source, uint32_t position, PixelBuffer& block) {
  block.reset();
  LocalMember m;
  if (!readLocalMember(source, position, m)) return false;
  if (m.method == 0) {
    if (!block.allocate(m.uncompressedSize)) return false;
    if (!readExactly(source, m.dataStart, block.data(), m.uncompressedSize) ||
        !memberCrcMatches(block, m.uncompressedSize, m.crc)) {
      block.reset();
      return false;
    }
    return true;
  }
  PixelBuffer input;
  if (!input.allocate(m.compressedSize) || !block.allocate(m.uncompressedSize)) {
    block.reset();
    return false;
  }
  if (!readExactly(source, m.dataStart, input.data(), m.compressedSize) ||
      !inflateInto(input.data(), m.compressedSize, block.data(), m.uncompressedSize) ||
      !memberCrcMatches(block, m.uncompressedSize, m.crc)) {
    block.reset();
    return false;
  }
  return true;
}

}  // namespace velorin
