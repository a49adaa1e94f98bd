#include "formats/gif_reader.h"

namespace velorin {

namespace {
bool decodeGif(GifReader& reader) {
  reader.status = Status::NotFormat;  // not built yet
  return false;
}
}  // namespace

bool readGifFile(GifReader& reader, const std::filesystem::path& path, ImageRecord& record) {
  return readFromFile(reader, path, record, decodeGif);
}

bool readGifMemory(GifReader& reader, const uint8_t* bytes, size_t length, ImageRecord& record) {
  return readFromMemory(reader, bytes, length, record, decodeGif);
}

}  // namespace velorin
