#include "formats/tiff_reader.h"

namespace velorin {

namespace {
bool decodeTiff(TiffReader& reader) {
  reader.status = Status::NotFormat;  // not built yet
  return false;
}
}  // namespace

bool readTiffFile(TiffReader& reader, const std::filesystem::path& path, ImageRecord& record) {
  return readFromFile(reader, path, record, decodeTiff);
}

bool readTiffMemory(TiffReader& reader, const uint8_t* bytes, size_t length, ImageRecord& record) {
  return readFromMemory(reader, bytes, length, record, decodeTiff);
}

}  // namespace velorin
