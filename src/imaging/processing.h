// The fixed processing chain between decoding and encoding: rotation, automatic levels and gamma,
// contrast, hue and saturation, resize, unsharp mask, in that order, as switched on.
#pragma once

#include <cstdint>

#include "imaging/image.h"

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

// Lookup tables built once per job for the switched-on operations only.
struct ProcessingTables {
  ProcessingSettings settings;
};

void buildProcessingTables(ProcessingTables& tables, const ProcessingSettings& settings);

// Runs the switched-on operations on the working image; false when memory runs out.
bool processImage(WorkingImage& image, ProcessingTables& tables);

}  // namespace velorin
