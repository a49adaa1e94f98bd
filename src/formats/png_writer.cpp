#include "formats/png_writer.h"

namespace velorin {

bool writePng(PngWriter& writer, const std::filesystem::path& path, const RgbQuad* palette,
              const uint8_t* pixels) {
  writer.status = Status::CannotWrite;  // not built yet
  return false;
}

}  // namespace velorin
