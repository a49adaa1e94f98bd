#include "formats/exif.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <memory>

#include "formats/input_file.h"
#include "formats/jpeg_writer.h"
#include "formats/output_file.h"

namespace velorin {

namespace {

constexpr uint32_t kTagOrientation = 274;
constexpr uint32_t kTagExifIfd = 34665;
constexpr uint32_t kTagDateTimeOriginal = 36867;
constexpr uint32_t kTagPixelXDimension = 40962;
constexpr uint32_t kTagPixelYDimension = 40963;
constexpr uint32_t kTagThumbnailOffset = 513;
constexpr uint32_t kTagThumbnailLength = 514;

// The largest APP1 payload: the 16-bit segment length counts its own two bytes.
constexpr size_t kMaxPayload = 65533;

// A TIFF structure in one byte order; every read is checked against the block's end.
struct TiffView {
  const uint8_t* base = nullptr;
  uint64_t length = 0;
  bool bigEndian = false;

  bool fits(uint64_t offset, uint64_t count) const {
    return offset <= length && length - offset >= count;
  }
  bool u16(uint64_t offset, uint32_t& value) const {
    if (!fits(offset, 2)) return false;
    value = bigEndian ? loadBe16(base + offset) : loadLe16(base + offset);
    return true;
  }
  bool u32(uint64_t offset, uint32_t& value) const {
    if (!fits(offset, 4)) return false;
    value = bigEndian ? loadBe32(base + offset) : loadLe32(base + offset);
    return true;
  }
  // The offset of the first entry with the tag in the IFD at ifd.
  bool findEntry(uint64_t ifd, uint32_t tag, uint64_t& entry) const {
    uint32_t count = 0;
    if (!u16(ifd, count)) return false;
    uint64_t p = ifd + 2;
    for (uint32_t i = 0; i < count; ++i, p += 12) {
      if (!fits(p, 12)) return false;
      uint32_t entryTag = 0;
      u16(p, entryTag);
      if (entryTag == tag) {
        entry = p;
        return true;
      }
    }
    return false;
  }
};

TiffView tiffOf(const MarkerWalker& w) {
  TiffView view;
  view.base = w.tiffStart;
  view.length = static_cast<uint64_t>(w.dataEnd - w.tiffStart);
  view.bigEndian = w.bigEndian;
  return view;
}

bool isExifPayload(const uint8_t* payload, size_t length) {
  static const uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
  return length >= 6 && std::memcmp(payload, kExif, 6) == 0;
}

void store16(uint8_t* p, uint32_t v, bool bigEndian) {
  if (bigEndian) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
  } else {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
  }
}

void store32(uint8_t* p, uint32_t v, bool bigEndian) {
  if (bigEndian) {
    store16(p, v >> 16, true);
    store16(p + 2, v, true);
  } else {
    store16(p, v, false);
    store16(p + 2, v >> 16, false);
  }
}

}  // namespace

void MarkerWalker::reset(const uint8_t* data, size_t length) {
  *this = MarkerWalker{};
  dataStart = cursor = data;
  dataEnd = data + length;
}

int32_t walkMarkers(MarkerWalker& w) {
  int32_t result = 0;
  for (;;) {
    const uint8_t* p = w.cursor;
    while (p < w.dataEnd && *p != 0xFF) ++p;
    while (p < w.dataEnd && *p == 0xFF) ++p;
    if (p >= w.dataEnd) {
      w.cursor = w.dataEnd;
      return result;
    }
    const uint8_t code = *p++;
    w.cursor = p;
    if (code == 0xD8) continue;
    if (code == 0xD9 || code == 0xDA) return result;
    const size_t left = static_cast<size_t>(w.dataEnd - p);
    if (code == 0xE1) {
      if (left < 2) return result;
      const uint32_t length = loadBe16(p);
      if (length > left) return result;
      if (length < 2) {
        w.status = Status::Truncated;
        return result;
      }
      const uint8_t* payload = p + 2;
      if (isExifPayload(payload, length - 2)) {
        w.hasExif = true;
        w.exifSegmentLength = static_cast<int32_t>(length);
        w.exifPayload = payload;
        w.tiffStart = payload + 6;
        const size_t tiffBytes = static_cast<size_t>(w.dataEnd - w.tiffStart);
        w.bigEndian = !(tiffBytes >= 2 && w.tiffStart[0] == 'I' && w.tiffStart[1] == 'I');
        uint32_t ifd = 0;
        // An IFD0 offset that cannot be read sends the hook past the data: it finds nothing.
        w.ifdOffset = tiffOf(w).u32(4, ifd) ? ifd : UINT64_MAX;
        if (w.exifHook) result = w.exifHook(w);
        if (w.stopTest && w.stopTest(w)) return result;
      }
      w.cursor = p + length;
      continue;
    }
    if (code == 0xFE && w.commentHook) w.commentHook(w);
    if (left >= 2) {
      const uint32_t length = loadBe16(p);
      if (length > 1 && length <= left) {
        w.cursor = p + length;
        continue;
      }
    }
    w.status = Status::Truncated;
    return result;
  }
}

int32_t orientationHook(MarkerWalker& w) {
  const TiffView tiff = tiffOf(w);
  uint64_t entry = 0;
  uint32_t value = 0;
  if (!tiff.findEntry(w.ifdOffset, kTagOrientation, entry) || !tiff.u16(entry + 8, value)) return 1;
  return value == 1 || value == 3 || value == 6 || value == 8 ? static_cast<int32_t>(value) : 1;
}

int32_t dateHook(MarkerWalker& w) {
  const TiffView tiff = tiffOf(w);
  uint64_t entry = 0;
  uint32_t subIfd = 0;
  uint32_t offset = 0;
  if (!tiff.findEntry(w.ifdOffset, kTagExifIfd, entry) || !tiff.u32(entry + 8, subIfd)) return 0;
  if (!tiff.findEntry(subIfd, kTagDateTimeOriginal, entry) || !tiff.u32(entry + 8, offset)) return 0;
  if (!tiff.fits(offset, 20) || !w.dateTime) return 0;
  std::memcpy(w.dateTime, tiff.base + offset, 20);
  w.dateTime[19] = 0;  // callers treat it as text
  return 1;
}

int32_t thumbnailLocatorHook(MarkerWalker& w) {
  const TiffView tiff = tiffOf(w);
  uint32_t count = 0;
  uint32_t ifd1 = 0;
  if (!tiff.u16(w.ifdOffset, count)) return 0;
  if (!tiff.u32(w.ifdOffset + 2 + 12 * uint64_t{count}, ifd1) || ifd1 == 0) return 0;
  if (!tiff.u16(ifd1, count)) return 0;
  int32_t result = 0;
  uint64_t p = ifd1 + uint64_t{2};
  for (uint32_t i = 0; i < count; ++i, p += 12) {
    if (!tiff.fits(p, 12)) return 0;
    uint32_t tag = 0;
    uint32_t value = 0;
    tiff.u16(p, tag);
    tiff.u32(p + 8, value);
    if (tag == kTagThumbnailOffset) {
      result = static_cast<int32_t>(value);
    } else if (tag == kTagThumbnailLength) {
      w.thumbnailLengthPosition = static_cast<uint32_t>(p + 8);
      w.thumbnailLength = value;
    }
  }
  return result;
}

int32_t exifPresentHook(MarkerWalker&) { return 1; }
bool stopAlways(const MarkerWalker&) { return true; }
bool stopNever(const MarkerWalker&) { return false; }

int32_t readExifOrientation(const uint8_t* jpeg, size_t length) {
  if (!jpeg) return 1;
  MarkerWalker w;
  w.reset(jpeg, length);
  w.exifHook = orientationHook;
  w.stopTest = stopAlways;
  const int32_t result = walkMarkers(w);
  return result == 0 ? 1 : result;
}

int32_t readLastExifOrientation(const uint8_t* jpeg, size_t length, bool& hasExif) {
  hasExif = false;
  if (!jpeg) return 1;
  MarkerWalker w;
  w.reset(jpeg, length);
  w.exifHook = orientationHook;
  w.stopTest = stopNever;
  const int32_t result = walkMarkers(w);
  hasExif = w.hasExif;
  return result == 0 ? 1 : result;
}

bool readExifDateTime(const uint8_t* jpeg, size_t length, char (&dateTime)[20]) {
  if (!jpeg) return false;
  MarkerWalker w;
  w.reset(jpeg, length);
  w.exifHook = dateHook;
  w.stopTest = stopAlways;
  w.dateTime = dateTime;
  return walkMarkers(w) == 1;
}

bool takeExifCopy(const uint8_t* jpeg, size_t length, bool resetOrientation,
                  std::vector<uint8_t>& payload) {
  payload.clear();
  if (!jpeg) return false;
  MarkerWalker w;
  w.reset(jpeg, length);
  w.exifHook = exifPresentHook;
  w.stopTest = stopAlways;
  walkMarkers(w);
  if (!w.hasExif) return false;
  payload.assign(w.exifPayload, w.exifPayload + (w.exifSegmentLength - 2));
  if (resetOrientation) resetExifOrientation(payload.data() + 6, payload.size() - 6);
  return true;
}

bool resetExifOrientation(uint8_t* tiffBytes, size_t length) {
  TiffView tiff;
  tiff.base = tiffBytes;
  tiff.length = length;
  tiff.bigEndian = !(length >= 2 && tiffBytes[0] == 'I' && tiffBytes[1] == 'I');
  uint32_t ifd = 0;
  uint64_t entry = 0;
  if (!tiff.u32(4, ifd) || !tiff.findEntry(ifd, kTagOrientation, entry)) return false;
  // Only the low-order byte: a SHORT 1 whatever the rest of the value field holds.
  tiffBytes[entry + 8 + (tiff.bigEndian ? 1 : 0)] = 1;
  return true;
}

void adjustExifDimensions(uint8_t* t, size_t n, uint32_t width, uint32_t height) {
  if (n < 12) return;
  bool big;
  if (t[0] == 'I' && t[1] == 'I') {
    big = false;
  } else if (t[0] == 'M' && t[1] == 'M') {
    big = true;
  } else {
    return;
  }
  auto r16 = [&](size_t p) -> uint32_t { return big ? loadBe16(t + p) : loadLe16(t + p); };
  if (r16(2) != 42) return;
  // Offsets beyond 16 bits are not followed: the block is at most 64 KiB.
  if (r16(big ? 4 : 6) != 0) return;
  const size_t c = n - 2;
  const size_t last = n - 12;
  const size_t off = r16(big ? 6 : 4);
  if (off > c) return;
  uint32_t entries = r16(off);
  for (size_t p = off + 2; entries > 0 && p <= last; --entries, p += 12) {
    if (r16(p) != kTagExifIfd) continue;
    if (r16(p + (big ? 8 : 10)) != 0) return;
    const size_t off2 = r16(p + (big ? 10 : 8));
    if (off2 > c) return;
    uint32_t entries2 = r16(off2);
    if (entries2 < 2) return;
    for (size_t q = off2 + 2; entries2 > 0 && q <= last; --entries2, q += 12) {
      const uint32_t tag = r16(q);
      if (tag != kTagPixelXDimension && tag != kTagPixelYDimension) continue;
      const uint32_t value = (tag == kTagPixelXDimension ? width : height) & 0xFFFF;
      store16(t + q + 2, 4, big);
      store32(t + q + 4, 1, big);
      store32(t + q + 8, value, big);
    }
    return;
  }
}

bool readExifThumbnailInfo(const std::filesystem::path& path, ExifThumbnailInfo& info) {
  info = ExifThumbnailInfo{};
  MappedFile file;
  if (!file.open(path)) return false;
  MarkerWalker w;
  w.reset(file.data(), file.size());
  w.exifHook = thumbnailLocatorHook;
  w.stopTest = stopAlways;
  const uint32_t offset = static_cast<uint32_t>(walkMarkers(w));
  if (offset == 0 || !w.hasExif) return false;
  const size_t payloadLength = static_cast<size_t>(w.exifSegmentLength) - 2;
  // Both the thumbnail and its length field must lie inside the segment.
  if (uint64_t{6} + offset + w.thumbnailLength > payloadLength) return false;
  if (uint64_t{6} + w.thumbnailLengthPosition + 4 > payloadLength) return false;
  info.payload.assign(w.exifPayload, w.exifPayload + payloadLength);
  info.thumbnailOffset = 6 + offset;
  info.lengthFieldOffset = 6 + w.thumbnailLengthPosition;
  info.thumbnailLength = w.thumbnailLength;
  info.room = 65527 - static_cast<int32_t>(offset);
  info.bigEndian = w.bigEndian;

  // The thumbnail's own frame header gives its size.
  const uint8_t* p = info.payload.data() + info.thumbnailOffset;
  const uint8_t* end = p + info.thumbnailLength;
  for (;;) {
    while (p < end && *p != 0xFF) ++p;
    while (p < end && *p == 0xFF) ++p;
    if (p >= end) break;
    const uint8_t code = *p;
    if (code == 0xD8) {
      ++p;
      continue;
    }
    if (code == 0xD9 || code == 0xDA) break;
    if (code >= 0xC0 && code <= 0xC2) {
      if (end - p >= 8) {
        info.thumbHeight = loadBe16(p + 4);
        info.thumbWidth = loadBe16(p + 6);
      }
      break;
    }
    if (end - p < 3) break;
    const uint32_t length = loadBe16(p + 1);
    if (length < 2 || length > static_cast<size_t>(end - p - 1)) break;
    p += 1 + length;
  }
  return true;
}

namespace {

// Where the file's first EXIF segment starts (at its length field) and its length, found the way
// a byte-at-a-time reader of the file finds it.
bool findExifSegment(const std::vector<uint8_t>& file, size_t& start, size_t& length) {
  size_t p = 0;
  const size_t n = file.size();
  for (;;) {
    while (p < n && file[p] != 0xFF) ++p;
    if (p >= n) return false;
    ++p;
    while (p < n && file[p] == 0xFF) ++p;
    if (p >= n) return false;
    const uint8_t code = file[p++];
    if (code == 0xD8) continue;
    if (code == 0xD9 || code == 0xDA) return false;
    if (n - p < 2) return false;
    const size_t segment = loadBe16(&file[p]);
    if (code == 0xE1) {
      if (n - p < 8 || segment < 8 || segment > n - p) return false;
      if (!isExifPayload(&file[p + 2], 6)) return false;
      start = p;
      length = segment;
      return true;
    }
    if (segment < 2) return false;
    p += segment;
  }
}

}  // namespace

bool rewriteExifThumbnail(const std::filesystem::path& path, ExifThumbnailInfo& info,
                          const uint8_t* thumbnail, uint32_t thumbnailLength) {
  // The segment length is 16 bits: a thumbnail beyond the room cannot be stored.
  if (info.room <= 0 || thumbnailLength > static_cast<uint32_t>(info.room)) return false;
  if (info.payload.size() < info.lengthFieldOffset + 4) return false;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "r+b"));
  if (!file) return false;
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(path, error);
  if (error || size >= kMaxBlockSize) return false;
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return false;
  size_t start = 0;
  size_t length = 0;
  if (!findExifSegment(bytes, start, length)) return false;

  std::vector<uint8_t>& payload = info.payload;
  const size_t kept = info.thumbnailOffset + thumbnailLength;
  if (kept > kMaxPayload) return false;
  if (payload.size() < kept) payload.resize(kept);
  std::memmove(payload.data() + info.thumbnailOffset, thumbnail, thumbnailLength);
  info.thumbnailLength = thumbnailLength;
  store32(payload.data() + info.lengthFieldOffset, thumbnailLength, info.bigEndian);

  const size_t newLength = kept + 2;
  const uint8_t lengthBytes[2] = {static_cast<uint8_t>(newLength >> 8),
                                  static_cast<uint8_t>(newLength)};
  const size_t restStart = start + length;
  const size_t restLength = bytes.size() - restStart;
  if (std::fseek(file.get(), static_cast<long>(start), SEEK_SET) != 0) return false;
  bool ok = std::fwrite(lengthBytes, 1, 2, file.get()) == 2 &&
            std::fwrite(payload.data(), 1, kept, file.get()) == kept &&
            std::fwrite(bytes.data() + restStart, 1, restLength, file.get()) == restLength;
  ok = std::fflush(file.get()) == 0 && ok;
  if (std::fclose(file.release()) != 0) ok = false;
  if (!ok) return false;
  std::filesystem::resize_file(path, start + 2 + kept + restLength, error);
  return !error;
}

bool regenerateExifThumbnail(const std::filesystem::path& path, const ThumbnailImage& image) {
  ExifThumbnailInfo info;
  if (!readExifThumbnailInfo(path, info) || info.room <= 0) return false;
  JpegWriter writer;
  setupJpegWriter(writer, image.width, image.height, image.bitCount);
  setJpegWriterOptions(writer, 80, 0, image.greyscale, false);
  writer.xPelsPerMeter = image.xPelsPerMeter;
  writer.yPelsPerMeter = image.yPelsPerMeter;
  writer.converter.dither = image.dither;
  std::vector<uint8_t> encoded(kMaxPayload);
  uint32_t size = static_cast<uint32_t>(encoded.size());
  if (!encodeJpegLimited(writer, encoded.data(), size, image.palette, image.pixels,
                         static_cast<uint32_t>(info.room)))
    return false;
  return rewriteExifThumbnail(path, info, encoded.data(), size);
}

bool forEachJpegSegment(const uint8_t* jpeg, size_t length,
                        const std::function<bool(uint8_t, const uint8_t*, size_t)>& visit) {
  if (!jpeg || length < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
  size_t at = 2;
  while (at + 4 <= length) {
    if (jpeg[at] != 0xFF) return false;
    const uint8_t marker = jpeg[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) return true;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      at += 2;
      continue;
    }
    const size_t segment = loadBe16(jpeg + at + 2);
    if (segment < 2 || segment > length - at - 2) return false;
    if (!visit(marker, jpeg + at + 4, segment - 2)) return true;
    at += 2 + segment;
  }
  return true;
}

namespace {

bool takeSegmentCopy(const uint8_t* jpeg, size_t length, uint8_t wanted, std::string_view identifier,
                     std::vector<uint8_t>& payload) {
  payload.clear();
  // The identifier's terminating zero is part of the match.
  const size_t idLength = identifier.size() + 1;
  forEachJpegSegment(jpeg, length, [&](uint8_t marker, const uint8_t* data, size_t size) {
    if (marker != wanted || size <= idLength || std::memcmp(data, identifier.data(), idLength) != 0)
      return true;
    payload.assign(data, data + size);
    return false;
  });
  return !payload.empty();
}

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Sets every occurrence of the property name (as an attribute or a plain element) to value;
// occurrences in other forms are removed with their element.
void setXmpProperty(std::string& x, std::string_view name, const std::string& value) {
  size_t at = 0;
  while ((at = x.find(name, at)) != std::string::npos) {
    const size_t end = at + name.size();
    const char before = at > 0 ? x[at - 1] : '\0';
    const char after = end < x.size() ? x[end] : '\0';
    if (before != '<' && !isXmlSpace(before)) {  // part of another name, or a closing tag
      at = end;
      continue;
    }
    if (before == '<') {
      if (after != '>' && after != '/' && !isXmlSpace(after)) {
        at = end;
        continue;
      }
      const size_t start = at - 1;
      const size_t tagEnd = x.find('>', end);
      if (tagEnd == std::string::npos) return;
      if (x[tagEnd - 1] == '/') {  // an empty element carries no plain value
        x.erase(start, tagEnd + 1 - start);
        at = start;
        continue;
      }
      const std::string closing = "</" + std::string(name) + ">";
      const size_t close = x.find(closing, tagEnd);
      if (close == std::string::npos) return;
      if (tagEnd == end && x.find('<', tagEnd + 1) == close) {
        x.replace(tagEnd + 1, close - tagEnd - 1, value);
        at = tagEnd + 1 + value.size();
      } else {
        x.erase(start, close + closing.size() - start);
        at = start;
      }
      continue;
    }
    size_t p = end;
    while (p < x.size() && isXmlSpace(x[p])) ++p;
    if (p >= x.size() || x[p] != '=') {
      at = end;
      continue;
    }
    ++p;
    while (p < x.size() && isXmlSpace(x[p])) ++p;
    if (p >= x.size() || (x[p] != '"' && x[p] != '\'')) return;
    const size_t closeQuote = x.find(x[p], p + 1);
    if (closeQuote == std::string::npos) return;
    x.replace(p + 1, closeQuote - p - 1, value);
    at = p + 1 + value.size();
  }
}

constexpr std::string_view kXmpIdentifier = "http://ns.adobe.com/xap/1.0/";

}  // namespace

bool takeXmpCopy(const uint8_t* jpeg, size_t length, std::vector<uint8_t>& payload) {
  return takeSegmentCopy(jpeg, length, 0xE1, kXmpIdentifier, payload);
}

bool takeIptcCopy(const uint8_t* jpeg, size_t length, std::vector<uint8_t>& payload) {
  return takeSegmentCopy(jpeg, length, 0xED, "Photoshop 3.0", payload);
}

void adjustXmpPacket(std::vector<uint8_t>& payload, bool resetOrientation, uint32_t width,
                     uint32_t height) {
  const size_t idLength = kXmpIdentifier.size() + 1;
  if (payload.size() <= idLength) return;
  std::string packet(payload.begin() + static_cast<std::ptrdiff_t>(idLength), payload.end());
  if (resetOrientation) setXmpProperty(packet, "tiff:Orientation", "1");
  const std::string w = std::to_string(width), h = std::to_string(height);
  setXmpProperty(packet, "exif:PixelXDimension", w);
  setXmpProperty(packet, "exif:PixelYDimension", h);
  setXmpProperty(packet, "tiff:ImageWidth", w);
  setXmpProperty(packet, "tiff:ImageLength", h);
  payload.resize(idLength);
  payload.insert(payload.end(), packet.begin(), packet.end());
  if (payload.size() > 65533) payload.clear();
}

}  // namespace velorin
