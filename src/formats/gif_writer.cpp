#include "formats/gif_writer.h"

namespace velorin {

bool writeGif(GifWriter& writer, const std::filesystem::path& path, const RgbQuad* palette,
              const uint8_t* pixels) {
  writer.status = Status::CannotWrite;  // not built yet
  return false;
}

}  // namespace velorin
