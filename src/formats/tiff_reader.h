// TIFF reader: the first image of a baseline TIFF that is uncompressed, strip-organised and
// chunky (one IFD is read; further pages are ignored).
//
// Accepted: WhiteIsZero and BlackIsZero at 1, 4 or 8 bits and Palette at 1, 4 or 8 bits, which
// become 8-bit indexed records (a generated grey palette or the ColorMap's high bytes), and RGB
// at 8 or 16 bits per sample, which becomes a 24-bit record (16-bit samples keep their high
// byte). Resolution comes from XResolution and YResolution in inches or centimetres.
//
// Refused, so that a plug-in may try the file: compression other than none, other photometric
// or bit combinations, more than one sample per pixel outside RGB, separate planes, a first image
// that is a reduced-resolution preview of a sub-image or of DNG data, as in camera RAW files
// (Status::BadImage); a file that is not TIFF or whose tags point outside it, tiles instead of
// strips (Status::NotFormat); strips or a ColorMap past the end of the input, or strips that hold
// fewer bytes than the image needs (Status::Truncated).
//
// Both entry points return false on failure and leave the reason in reader.status; the record's
// pixel block is then released. The caller owns the memory block of the memory route.
#pragma once

#include <filesystem>
#include <vector>

#include "formats/input_file.h"

namespace velorin {

struct TiffReader : ReaderContext {
  bool littleEndian = true;
  int32_t width = 0;
  int32_t height = 0;
  int32_t bitsPerSample = 1;
  int32_t bitsPerSampleCount = 0;  // 0 when the file has no BitsPerSample entry
  int32_t compression = 1;
  int32_t photometric = 4;         // no valid value: the tag is required
  int32_t planarConfiguration = 1;
  int32_t resolutionUnit = 2;
  uint32_t xResolutionOffset = 0;  // 0: absent
  uint32_t yResolutionOffset = 0;
  uint32_t colorMapOffset = 0;
  int32_t stripCount = 0;
  int32_t workingBitCount = 0;     // 8 or 24: the depth of the record built
  int32_t stride = 0;              // row stride of that record
  std::vector<uint8_t> iccProfile;  // tag 34675 of the last read; empty: none or unusable
};

bool readTiffFile(TiffReader& reader, const std::filesystem::path& path, ImageRecord& record);
bool readTiffMemory(TiffReader& reader, const uint8_t* bytes, size_t length, ImageRecord& record);

}  // namespace velorin
