#include "formats/bmp_writer.h"
#include "formats/output_file.h"

#include <cstdio>
#include <memory>

namespace velorin {

namespace {

void storeLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void storeLe32(uint8_t* p, uint32_t v) {
  storeLe16(p, v);
  storeLe16(p + 2, v >> 16);
}

void writeHeaders(std::FILE* f, const BmpWriter& w, uint32_t paletteEntries, uint32_t imageSize) {
  uint8_t head[54] = {'B', 'M'};
  const uint32_t offset = 54 + 4 * paletteEntries;
  storeLe32(head + 2, offset + imageSize);
  storeLe32(head + 10, offset);
  storeLe32(head + 14, 40);
  storeLe32(head + 18, static_cast<uint32_t>(w.converter.width));
  storeLe32(head + 22, static_cast<uint32_t>(w.converter.height));
  storeLe16(head + 26, 1);
  storeLe16(head + 28, static_cast<uint32_t>(w.converter.targetBits));
  storeLe32(head + 38, static_cast<uint32_t>(w.xPelsPerMeter));
  storeLe32(head + 42, static_cast<uint32_t>(w.yPelsPerMeter));
  storeLe32(head + 46, paletteEntries);
  std::fwrite(head, 1, 14, f);
  std::fwrite(head + 14, 1, 40, f);
}

void writePalette(std::FILE* f, const RgbQuad* palette, uint32_t entries) {
  std::fwrite(palette, sizeof(RgbQuad), entries, f);
}

bool finish(BmpWriter& w, OutputFile& file) {
  if (closeOutputFile(file)) return true;
  w.status = Status::CannotWrite;
  return false;
}

}  // namespace

bool writeBmp(BmpWriter& w, const std::filesystem::path& path, const RgbQuad* palette,
              const uint8_t* pixels) {
  w.status = Status::Ok;
  OutputFile file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    w.status = Status::CannotCreate;
    return false;
  }
  DepthConverter& c = w.converter;
  const uint32_t size = c.targetImageSize;
  if (c.sourceBits == c.targetBits) {
    if (size == 0) {
      w.status = Status::NoMemory;
      return false;
    }
    const uint32_t entries = c.targetBits == 8 ? 256 : 0;
    writeHeaders(file.get(), w, entries, size);
    writePalette(file.get(), palette, entries);
    std::fwrite(pixels, 1, size, file.get());
    return finish(w, file);
  }
  PixelBuffer converted;
  if (size == 0 || !converted.allocate(size)) {
    w.status = Status::NoMemory;
    return false;
  }
  RgbQuad targetPalette[256] = {};
  if (!convertDepth(c, palette, pixels, targetPalette, converted.data())) {
    w.status = Status::CannotWrite;
    return false;
  }
  const uint32_t entries = c.targetBits == 24 ? 0 : 1u << c.targetBits;
  writeHeaders(file.get(), w, entries, size);
  writePalette(file.get(), targetPalette, entries);
  std::fwrite(converted.data(), 1, size, file.get());
  return finish(w, file);
}

}  // namespace velorin
