// The fixed processing chain between decoding and encoding: rotation, automatic levels and gamma,
// contrast, hue and saturation, resize, unsharp mask, in that order, as switched on.
//
// Depth rules: the tone steps (levels, gamma, contrast, hue and saturation) change the 256
// palette entries of an 8-bit image and leave its indices alone; resize and sharpening expand an
// 8-bit image to 24 bits, but only when they really change it. Rotation keeps the depth.
#pragma once

#include <cstdint>

#include "imaging/image.h"
#include "imaging/tone.h"
#include "imaging/unsharp.h"

namespace velorin {

// The settings the chain reads, by their keys.
struct ProcessingSettings {
  int32_t TurOpt = 0;
  bool HgmOpt = false;
  bool GamOpt = false;
  int32_t GamVal = 0;
  bool CrtOpt = false;
  int32_t CrtVal = 0;
  bool HlsSOpt = false;
  int32_t HlsSVal = 0;
  bool HlsHOpt = false;
  int32_t HlsHVal = 0;
  int32_t RszOpt = 0;
  int32_t RszSize = 100;
  bool Round10 = false;
  int32_t UsmOpt = 0;
};

// Lookup tables built once per job (or preview) for the switched-on operations only. The
// settings are kept with them, already limited to the ranges the tables cover.
struct ProcessingTables {
  ProcessingSettings settings;
  ToneTables tone;
  UnsharpTables unsharp;
};

// Fills the tables the settings need; false (tables released) when memory runs out.
bool buildProcessingTables(ProcessingTables& tables, const ProcessingSettings& settings);
void releaseProcessingTables(ProcessingTables& tables);

// Runs the switched-on operations on the working image. False when memory runs out or a step
// refuses the image; the image is then consistent (its buffer matches its working size and
// depth) but may hold any intermediate state of the chain.
bool processImage(WorkingImage& image, const ProcessingTables& tables);

// A new 24-bit block (rows padded to 4 bytes, + 4 spare bytes) in which each pixel is the blue,
// green, red of its palette entry; empty when the size reaches 2^32 or memory runs out. The
// source is untouched.
PixelBuffer expandPaletteTo24(const RgbQuad* palette, const uint8_t* pixels, int32_t width,
                              int32_t height);

// Makes the working image 24-bit: nothing to do when it already is, otherwise the expanded block
// replaces the indices and workBitCount becomes 24 so the image stays consistent even if the
// caller's own operation fails afterwards. False (image unchanged) when memory runs out.
bool ensureTrueColour(WorkingImage& image);

}  // namespace velorin
