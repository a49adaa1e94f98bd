// GIF reader: the first image of a GIF87a or GIF89a file, placed on its logical screen, as an
// 8-bit record whose palette is the image's colour table (the local one when it has one). Later
// images, animation, delays and disposal are not looked at; the rest of the file is not read.
//
// Before a read the caller sets defaultBackground and preferFileBackground; every read clears the
// other fields itself. An image whose data end before its last pixel still reads, with the
// reason in reader.damage. Returns false with the reason in reader.status; the record then holds no
// pixels. The record's pixels are owned by the record; the reader keeps nothing after the call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "formats/input_file.h"

namespace velorin {

struct GifReader : ReaderContext {
  // Replaces the transparent palette entry: used unless preferFileBackground is set and the
  // file has a global table, whose background entry then wins.
  RgbColour defaultBackground{255, 255, 255};
  bool preferFileBackground = false;

  // Transparency of the last successful read: whether the graphic control extension that belongs
  // to the image marks a transparent index, and that index (-1 when it does not).
  bool hasTransparency = false;
  int transparentIndex = -1;

  // Facts of the last file read.
  uint16_t screenWidth = 0;
  uint16_t screenHeight = 0;
  int32_t colourBits = 0;  // of the active table
  bool hasGlobalTable = false;
  uint8_t backgroundIndex = 0;
  uint16_t imageLeft = 0;
  uint16_t imageTop = 0;
  uint16_t imageWidth = 0;
  uint16_t imageHeight = 0;
  bool interlaced = false;
  bool hasLocalTable = false;
  int32_t transparencySeen = 0;  // graphic control extensions with the flag before the image
};

bool readGifFile(GifReader& reader, const std::filesystem::path& path, ImageRecord& record);
bool readGifMemory(GifReader& reader, const uint8_t* bytes, size_t length, ImageRecord& record);

// Decodes a GIF LZW code stream (the sub-blocks already joined) into at most outputSize indices.
// Damaged streams are not reported: decoding stops at the end code, when the data runs out or
// when the output is full, and pixels never reached keep their value. Returns the number of
// pixels stored, or -1 when the dictionary cannot be allocated. minimumCodeSize must be 2..8.
int64_t decodeGifLzw(const uint8_t* data, size_t size, int minimumCodeSize, uint8_t* output,
                     size_t outputSize);

// Whether a GIF's logical screen and first image are plausible for the image data that follows
// them; huge sizes that tiny data claims are refused before anything is allocated.
bool gifSizesPlausible(uint64_t screenPixels, uint64_t imagePixels, uint64_t dataBytes);

}  // namespace velorin
