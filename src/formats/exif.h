// EXIF and JPEG marker segments, handled on raw bytes outside the codec library.
//
// A camera JPEG carries an APP1 segment whose payload starts "Exif", 0, 0 and continues with a
// TIFF structure (byte order mark, IFD0 with Orientation and the Exif sub-IFD pointer, IFD1 with
// the embedded thumbnail). The marker walker steps over the segments of a JPEG held in memory
// and hands every EXIF segment to a hook; the hooks below read what the converter needs. Every
// read is bounded by the block: hostile offsets and counts give "nothing found", never a read
// outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "imaging/image.h"

namespace velorin {

struct MarkerWalker;
using ExifHook = int32_t (*)(MarkerWalker&);
using StopTest = bool (*)(const MarkerWalker&);
using CommentHook = void (*)(MarkerWalker&);

struct MarkerWalker {
  const uint8_t* dataStart = nullptr;
  const uint8_t* cursor = nullptr;
  const uint8_t* dataEnd = nullptr;
  Status status = Status::Ok;
  bool hasExif = false;
  int32_t exifSegmentLength = 0;        // L of the EXIF segment, counting its own two bytes
  const uint8_t* exifPayload = nullptr;  // at "Exif"
  const uint8_t* tiffStart = nullptr;
  bool bigEndian = false;
  uint64_t ifdOffset = 0;  // IFD0, from tiffStart, for the hook; may point anywhere
  ExifHook exifHook = nullptr;
  StopTest stopTest = nullptr;
  CommentHook commentHook = nullptr;
  // Hook outputs.
  char* dateTime = nullptr;               // 20 bytes, filled by dateHook
  uint32_t thumbnailLengthPosition = 0;   // of the 514 entry's value field, from tiffStart
  uint32_t thumbnailLength = 0;

  void reset(const uint8_t* data, size_t length);
};

// Walks from the cursor to the end of the data or the first SOS/EOI; returns the last result of
// the EXIF hook (0 when none ran). A malformed segment stops the walk with status Truncated.
int32_t walkMarkers(MarkerWalker& walker);

// Hooks and stop tests for walkMarkers.
int32_t orientationHook(MarkerWalker& walker);  // 1, 3, 6 or 8; 1 for anything else
int32_t dateHook(MarkerWalker& walker);         // 1 when the 20 bytes were taken
int32_t thumbnailLocatorHook(MarkerWalker& walker);  // the thumbnail's offset, 0 when none
int32_t exifPresentHook(MarkerWalker& walker);  // 1: just finds the segment
bool stopAlways(const MarkerWalker&);
bool stopNever(const MarkerWalker&);

// The orientation (1, 3, 6 or 8) of the first EXIF segment; 1 when absent or unreadable. The
// mirrored orientations read as 1: the converter does not act on them.
int32_t readExifOrientation(const uint8_t* jpeg, size_t length);
// The same from the last EXIF segment before the scan, as the decoder reports it.
int32_t readLastExifOrientation(const uint8_t* jpeg, size_t length, bool& hasExif);

// The DateTimeOriginal text ("YYYY:MM:DD hh:mm:ss" and its zero) of the first EXIF segment.
bool readExifDateTime(const uint8_t* jpeg, size_t length, char (&dateTime)[20]);

// Copies the first EXIF segment's payload (from "Exif", L - 2 bytes, at most 65,533) for the
// writer. With resetOrientation the copy's Orientation becomes 1; the source is never changed.
bool takeExifCopy(const uint8_t* jpeg, size_t length, bool resetOrientation,
                  std::vector<uint8_t>& payload);

// Writes 1 into the Orientation of IFD0 of a TIFF block; false when there is none.
bool resetExifOrientation(uint8_t* tiff, size_t length);

// Sets PixelXDimension and PixelYDimension of the Exif sub-IFD to the given size as LONG values.
// Tags missing from the block are not added.
void adjustExifDimensions(uint8_t* tiff, size_t length, uint32_t width, uint32_t height);

// Calls visit(marker, payload, payloadSize) for every segment with a length between SOI and the
// first scan, in file order; false when the segments are damaged (lost sync, a length past the
// end). visit returns false to stop early.
bool forEachJpegSegment(const uint8_t* jpeg, size_t length,
                        const std::function<bool(uint8_t, const uint8_t*, size_t)>& visit);

// The first XMP packet (APP1 "http://ns.adobe.com/xap/1.0/" and its zero, identification
// included) and the first IPTC block (APP13 "Photoshop 3.0" and its zero, likewise), for the
// writer. False, with payload empty, when the source has none.
bool takeXmpCopy(const uint8_t* jpeg, size_t length, std::vector<uint8_t>& payload);
bool takeIptcCopy(const uint8_t* jpeg, size_t length, std::vector<uint8_t>& payload);

// Makes an XMP copy agree with the output: with resetOrientation tiff:Orientation becomes 1;
// exif:PixelXDimension / tiff:ImageWidth and exif:PixelYDimension / tiff:ImageLength take the
// output size. Properties in a form other than a plain attribute or element are removed. A packet
// that grows past one segment is dropped (payload emptied).
void adjustXmpPacket(std::vector<uint8_t>& payload, bool resetOrientation, uint32_t width,
                     uint32_t height);

// Where a written file's EXIF thumbnail is, on a copy of its EXIF payload.
struct ExifThumbnailInfo {
  std::vector<uint8_t> payload;  // from "Exif"
  size_t thumbnailOffset = 0;    // in payload
  size_t lengthFieldOffset = 0;  // of the JPEGInterchangeFormatLength value, in payload
  uint32_t thumbnailLength = 0;
  int32_t room = 0;  // the largest thumbnail that keeps the segment within 65,535 bytes
  int32_t thumbWidth = 0;
  int32_t thumbHeight = 0;
  bool bigEndian = false;
};

bool readExifThumbnailInfo(const std::filesystem::path& path, ExifThumbnailInfo& info);

// Replaces the thumbnail of the file's first EXIF segment with the given bytes, dropping what
// followed the old thumbnail inside the segment. Nothing is written when the new segment would
// exceed 65,535 bytes or the file cannot be read back whole.
bool rewriteExifThumbnail(const std::filesystem::path& path, ExifThumbnailInfo& info,
                          const uint8_t* thumbnail, uint32_t thumbnailLength);

// The picture an EXIF thumbnail is made from: 8- or 24-bit bottom-up rows, as a working image.
struct ThumbnailImage {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bitCount = 24;
  const RgbQuad* palette = nullptr;
  const uint8_t* pixels = nullptr;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  bool greyscale = false;
  bool dither = false;
};

// Encodes the image at quality 80 (lower when needed to fit) as the new EXIF thumbnail of a
// written JPEG file. False when the file has no thumbnail to replace or the new one does not fit.
bool regenerateExifThumbnail(const std::filesystem::path& path, const ThumbnailImage& image);

}  // namespace velorin
