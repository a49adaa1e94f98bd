// JPEG writer (libjpeg-turbo, libjpeg 6.2 interface).
//
// Encodes 8- or 24-bit bottom-up rows (blue, green, red) as a baseline or progressive JPEG with
// optimised Huffman tables, to a file or into a fixed memory block. Every entry point sets
// status first and returns false with the reason in it. The EXIF copy is consumed by each
// entry point: it never outlives one call; so are the XMP and IPTC copies and the profile.
//
// Stream order: SOI, JFIF APP0 (only without an EXIF copy), APP1 EXIF, APP1 XMP, APP2 ICC
// profile, APP13 IPTC, COM, tables, frame, scans.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/depth_converter.h"
#include "imaging/image.h"

namespace velorin {

struct JpegWriter {
  Status status = Status::Ok;
  int32_t width = 0;
  int32_t height = 0;
  int32_t sourceBitCount = 24;
  DepthConverter converter;  // to 24 bits for 8-bit input; its dither flag is the setting
  int32_t quality = 75;      // after a size-limited encode: the last quality tried
  int32_t hSamp = 2;
  int32_t vSamp = 2;
  bool greyscale = false;
  bool progressive = false;
  int32_t xPelsPerMeter = 0;  // 0: no density recorded
  int32_t yPelsPerMeter = 0;
  std::vector<uint8_t> exif;  // the source's EXIF payload from "Exif"; empty: none
  std::vector<uint8_t> xmp;   // an APP1 XMP payload (identification included); empty: none
  std::vector<uint8_t> iptc;  // an APP13 payload ("Photoshop 3.0" block); empty: none
  std::vector<uint8_t> iccProfile;  // written as APP2 segments unless greyscale; empty: none
  std::string comment;        // written as one COM segment, at most 4095 bytes; empty: none
  std::string message;        // the library's last fatal message
};

// The longest prefix of text of at most maxBytes that does not end inside a UTF-8 sequence.
size_t characterBoundary(std::string_view text, size_t maxBytes);

// Stores the size and depth and applies the defaults: quality 75, 4:2:0, colour, baseline, no
// density, no EXIF, no comment. Negative sizes are stored as 0.
void setupJpegWriter(JpegWriter& writer, int32_t width, int32_t height, int32_t sourceBitCount);

// Quality above 100 becomes 75 (below 1 acts as 1); sampling 1 is 4:2:2, 2 is 4:4:4, anything
// else 4:2:0.
void setJpegWriterOptions(JpegWriter& writer, int32_t quality, int32_t sampling, bool greyscale,
                          bool progressive);

// Encodes into a new file at path (created or truncated). A partly written file stays.
bool writeJpeg(JpegWriter& writer, const std::filesystem::path& path, const RgbQuad* palette,
               const uint8_t* pixels);

// Encodes at the set quality or the highest lower one whose stream fits limitKiloBytes, then
// writes the file. When even quality 1 does not fit, the quality-1 stream is written.
bool writeJpegWithLimit(JpegWriter& writer, const std::filesystem::path& path,
                        const RgbQuad* palette, const uint8_t* pixels, uint32_t limitKiloBytes);

// The same search into buffer; size is its capacity in and the encoded size out. A stream that
// needs more than the capacity is a failed encode (status CannotWrite).
bool encodeJpegLimited(JpegWriter& writer, uint8_t* buffer, uint32_t& size, const RgbQuad* palette,
                       const uint8_t* pixels, uint32_t limit);

// The halving search on its own: encode(quality, size) encodes at a quality and reports the
// size. Starts at quality, ends with the last quality tried in it and that encode's size.
bool searchJpegQuality(int32_t& quality, uint32_t limit, uint32_t& size,
                       const std::function<bool(int32_t, uint32_t&)>& encode);

}  // namespace velorin
