#include "formats/exif.h"

namespace velorin {

int32_t readExifOrientation(const uint8_t* jpeg, size_t length) {
  return 1;  // not built yet
}

bool readExifDateTime(const uint8_t* jpeg, size_t length, char (&dateTime)[20]) {
  return false;  // not built yet
}

}  // namespace velorin
