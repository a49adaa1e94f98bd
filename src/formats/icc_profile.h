// ICC colour profiles carried from a source file to its output.
//
// A JPEG carries its profile as a chain of APP2 segments, each "ICC_PROFILE", 0, a sequence
// number from 1 and the chain's length, then a piece of the profile; PNG as one zlib-compressed
// iCCP chunk; TIFF as tag 34675. The readers keep a profile only when it looks whole (the size in
// its header equals its length and it has the "acsp" signature) and is no larger than a JPEG can
// carry, so that every kept profile can be written to every output format. Anything else is
// dropped silently: a missing profile costs colour accuracy, a damaged one would cost the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velorin {

// Payload bytes of one APP2 segment after its 14-byte identification.
inline constexpr size_t kJpegIccPieceSize = 65519;
// 255 segments: the sequence number is one byte.
inline constexpr size_t kMaxIccProfileSize = 255 * kJpegIccPieceSize;

// The profile's own header agrees with its length and signature, within kMaxIccProfileSize.
bool isUsableIccProfile(const uint8_t* profile, size_t length);
// The profile describes RGB data (its colour space is "RGB "), so it fits a colour output.
bool isRgbIccProfile(const std::vector<uint8_t>& profile);

// The profile assembled from the APP2 chain before the first scan; empty when there is none or
// the chain is incomplete, inconsistent or damaged.
std::vector<uint8_t> readJpegIccProfile(const uint8_t* jpeg, size_t length);

// The APP2 payloads (identification included) that carry the profile, in order.
std::vector<std::vector<uint8_t>> jpegIccSegments(const std::vector<uint8_t>& profile);

// The profile of an iCCP chunk's data (name, 0, method 0, zlib stream); empty when unusable.
std::vector<uint8_t> readPngIccChunk(const uint8_t* data, size_t length);
// An iCCP chunk's data for the profile; empty when compression fails.
std::vector<uint8_t> makePngIccChunk(const std::vector<uint8_t>& profile);

}  // namespace velorin
