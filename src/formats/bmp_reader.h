// BMP reader: uncompressed bottom-up bitmaps with the 40-byte info header at 1, 4, 8, 16, 24 or
// 32 bits per pixel (16 and 32 bits optionally with bit-field masks). 1- and 4-bit images become
// 8-bit indexed records, 16- and 32-bit images 24-bit records. Run-length-encoded and top-down
// bitmaps are refused with Status::BadImage.
//
// Both entry points return false on failure and leave the reason in reader.status; the record's
// pixel block is then released. The caller owns the memory block of the memory route.
#pragma once

#include <filesystem>

#include "formats/input_file.h"

namespace velorin {

struct BmpReader : ReaderContext {
  BitmapInfoHeader fileHeader;  // the info header as the file holds it
};

bool readBmpFile(BmpReader& reader, const std::filesystem::path& path, ImageRecord& record);
bool readBmpMemory(BmpReader& reader, const uint8_t* bytes, size_t length, ImageRecord& record);

}  // namespace velorin
