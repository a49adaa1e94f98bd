#include "formats/png_reader.h"

namespace velorin {

namespace {
bool decodePng(PngReader& reader) {
  reader.status = Status::NotFormat;  // not built yet
  return false;
}
}  // namespace

bool readPngFile(PngReader& reader, const std::filesystem::path& path, ImageRecord& record) {
  return readFromFile(reader, path, record, decodePng);
}

bool readPngMemory(PngReader& reader, const uint8_t* bytes, size_t length, ImageRecord& record) {
  return readFromMemory(reader, bytes, length, record, decodePng);
}

}  // namespace velorin
