#include "formats/jpeg_reader.h"

namespace velorin {

namespace {
bool decodeJpeg(JpegReader& reader) {
  reader.status = Status::NotFormat;  // not built yet
  return false;
}
}  // namespace

bool readJpegFile(JpegReader& reader, const std::filesystem::path& path, ImageRecord& record) {
  return readFromFile(reader, path, record, decodeJpeg);
}

bool readJpegMemory(JpegReader& reader, const uint8_t* bytes, size_t length, ImageRecord& record) {
  return readFromMemory(reader, bytes, length, record, decodeJpeg);
}

}  // namespace velorin
