#include "formats/jpeg_writer.h"

namespace velorin {

bool writeJpeg(JpegWriter& writer, const std::filesystem::path& path, const RgbQuad* palette,
              const uint8_t* pixels) {
  writer.status = Status::CannotWrite;  // not built yet
  return false;
}

}  // namespace velorin
