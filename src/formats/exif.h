// Facts read from the EXIF (APP1) block of a JPEG file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velorin {

// The orientation tag (1..8) of a JPEG file's EXIF block; 1 when absent or unreadable.
int32_t readExifOrientation(const uint8_t* jpeg, size_t length);

// The EXIF date-time text ("YYYY:MM:DD hh:mm:ss" and a zero) of a JPEG file; false when absent.
bool readExifDateTime(const uint8_t* jpeg, size_t length, char (&dateTime)[20]);

}  // namespace velorin
