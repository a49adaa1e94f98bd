// Runs the marker walker and every EXIF hook over arbitrary bytes, then rewrites a copy's
// orientation and dimensions; any crash or out-of-bounds access is a bug.
#include <vector>

#include "formats/exif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velorin;
  volatile int32_t sink = readExifOrientation(data, size);
  bool hasExif = false;
  sink = readLastExifOrientation(data, size, hasExif);
  char date[20];
  sink = readExifDateTime(data, size, date);
  MarkerWalker walker;
  walker.reset(data, size);
  walker.exifHook = thumbnailLocatorHook;
  walker.stopTest = stopAlways;
  sink = walkMarkers(walker);
  std::vector<uint8_t> copy;
  if (takeExifCopy(data, size, true, copy) && copy.size() > 6)
    adjustExifDimensions(copy.data() + 6, copy.size() - 6, 4000, 3000);
  // The dimension rewrite also on the raw bytes as a TIFF block.
  std::vector<uint8_t> raw(data, data + size);
  adjustExifDimensions(raw.data(), raw.size(), 1, 1);
  resetExifOrientation(raw.data(), raw.size());
  (void)sink;
  return 0;
}
