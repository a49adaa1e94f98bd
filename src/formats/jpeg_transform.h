// Lossless JPEG transform: rotation by quarter turns, greyscale by dropping the chroma components,
// progressive rewriting and marker selection, all on the quantised DCT coefficients, so the
// picture loses nothing (libjpeg-turbo's coefficient interface, libjpeg 6.2).
//
// Blocks that cannot be moved are trimmed: the partial iMCU column or row that would become the
// result's left or top edge is dropped, so a rotated image may be up to one iMCU smaller than the
// source in that direction. An image smaller than one iMCU keeps its size.
//
// Every entry point sets status first and returns false with the reason in it. The source bytes
// are never changed: the orientation reset works on the library's copy of the saved markers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "imaging/image.h"

namespace velorin {

enum JpegTransformCode : int32_t {
  kTransformNone = 0,
  kTransformRotate90 = 3,   // clockwise
  kTransformRotate180 = 4,
  kTransformRotate270 = 5,  // clockwise
};

struct JpegTransform {
  Status status = Status::Ok;
  // The request.
  int32_t transform = kTransformNone;
  bool trim = true;
  bool forceGreyscale = false;
  int32_t markerCopyOption = 2;  // 0 none, 1 comments, 2 comments and APP0..APP15
  bool progressive = false;
  bool resetOrientation = false;
  // Found by the last transform.
  uint32_t outputWidth = 0;
  uint32_t outputHeight = 0;
  int32_t sourceComponents = 0;
  bool sourceIsColour = false;  // three YCbCr components
  bool hasExif = false;
  std::string message;  // the library's last fatal message
  std::string damage;   // the library's first warning: the source is cut short or corrupt
};

// The transform code of a rotation kind: 0 none, 1 = 90, 2 = 180, 3 = 270 degrees clockwise.
int32_t transformForRotation(int32_t rotation);

// Sets the request: trimming on, and the orientation reset when a rotation meets a copied EXIF.
void setJpegTransformRequest(JpegTransform& request, int32_t rotation, bool greyscale,
                             int32_t markerCopyOption, bool progressive);

// One transform into a new file at output (created or truncated; a partly written file stays).
bool transformJpeg(JpegTransform& request, const uint8_t* source, size_t length,
                   const std::filesystem::path& output);

// One transform into a fixed block; size is its capacity in and the bytes written out. A stream
// that needs more room fails without writing past the block.
bool transformJpegToMemory(JpegTransform& request, const uint8_t* source, size_t length,
                           uint8_t* buffer, uint32_t& size);

// Maps the source file and transforms it into output.
bool transformJpegFile(JpegTransform& request, const std::filesystem::path& source,
                       const std::filesystem::path& output);

// Applies the request's rotation and greyscale to the EXIF thumbnail of a transformed file, in
// place. False when there is no thumbnail or the result does not fit the segment.
bool transformExifThumbnail(const std::filesystem::path& output, const JpegTransform& request);

// Writes jpeg to output with the comment (carriage returns removed, at most 4095 bytes before
// that) in place of the first COM segment, or right after the last APP0/APP1 segment before it.
// Status Truncated for a malformed segment; CannotCreate when there is neither APP0/APP1 nor
// COM before the scan (output left alone) or the file cannot be made.
bool insertJpegComment(const uint8_t* jpeg, size_t length, const std::filesystem::path& output,
                       const std::string& comment, Status& status);

}  // namespace velorin
