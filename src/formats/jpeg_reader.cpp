#include "formats/jpeg_reader.h"

#include <cstring>

#include "formats/exif.h"
#include "formats/icc_profile.h"
#include "formats/jpeg_library.h"

namespace velorin {

namespace {

// Adobe CMYK arrives inverted, so each colour is the product of its sample and K over 255.
void cmykToBgr(const JSAMPLE* cmyk, uint8_t* bgr, JDIMENSION width, const uint8_t* product) {
  for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
    const uint8_t* byK = product + (cmyk[3] << 8);
    bgr[0] = byK[cmyk[2]];
    bgr[1] = byK[cmyk[1]];
    bgr[2] = byK[cmyk[0]];
  }
}

int32_t pelsPerMetre(uint8_t unit, uint16_t density) {
  if (unit == 1) return static_cast<int32_t>(density / 0.0254 + 0.5);
  if (unit == 2) return density * 100;
  return 0;
}

}  // namespace

bool entropyDataPlausible(uint64_t pixels, uint64_t entropyBytes) {
  // Every 8 x 8 block costs at least one bit of DC code in the first scan, so a byte covers at
  // most 512 pixels of one component. A picture of over 16 megapixels whose data after the
  // header could not cover an eighth of it is refused before its block is allocated; smaller
  // pictures, and normally truncated photographs, decode with the missing rows grey.
  constexpr uint64_t kLargePicture = uint64_t{1} << 24;
  return pixels <= kLargePicture || entropyBytes >= pixels / 4096;
}

namespace {

// The library calls of one decode. Only plain data lives in this frame, so the error exit's
// longjmp skips no destructor; the record's block is released by the caller on failure.
bool decodeStream(JpegReader& reader) {
  ImageRecord& record = *reader.image;
  jpeg_decompress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  JpegErrorManager error;
  cinfo.err = installJpegErrorManager(error);
  if (setjmp(error.jump)) {
    reader.message = error.message;
    if (reader.status == Status::Ok) reader.status = Status::BadImage;
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  setJpegMemorySource(&cinfo, reader.dataStart, reader.length());
  jpeg_read_header(&cinfo, TRUE);
  if (!entropyDataPlausible(uint64_t{cinfo.image_width} * cinfo.image_height, cinfo.src->bytes_in_buffer)) {
    reader.status = Status::BadImage;
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  if (reader.targetWidth > 0 && reader.targetHeight > 0) {
    cinfo.scale_num = 1;
    cinfo.scale_denom = jpegScaleDenominator(cinfo.image_width, cinfo.image_height,
                                             reader.targetWidth, reader.targetHeight);
  }
  if (cinfo.out_color_space == JCS_RGB) cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_calc_output_dimensions(&cinfo);
  jpeg_start_decompress(&cinfo);

  const JDIMENSION width = cinfo.output_width;
  const JDIMENSION height = cinfo.output_height;
  const int components = cinfo.output_components;
  if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF ||
      (components != 1 && components != 3 && components != 4)) {
    reader.status = Status::BadImage;
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  const int bitCount = components == 1 ? 8 : 24;
  // Rows without padding are written whole below (or cleared when the data stop early), so the
  // block need not be cleared first.
  const bool padded = paddedStride(width, bitCount) != static_cast<uint64_t>(width) * (bitCount / 8);
  const Status allocated = record.allocatePixels(static_cast<int32_t>(width),
                                                 static_cast<int32_t>(height), bitCount, 0, 0, padded);
  if (allocated != Status::Ok) {
    reader.status = allocated;
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  if (components == 1) {
    for (int i = 0; i < 256; ++i) {
      const uint8_t v = static_cast<uint8_t>(i);
      record.palette[i] = {v, v, v, 0};
    }
  }
  const size_t stride = paddedStride(width, bitCount);
  uint8_t* bottom = record.pixels.data();
  if (components == 4) {
    j_common_ptr common = reinterpret_cast<j_common_ptr>(&cinfo);
    auto* product = static_cast<uint8_t*>((*cinfo.mem->alloc_large)(common, JPOOL_IMAGE, 65536));
    for (int k = 0; k < 256; ++k)
      for (int v = 0; v < 256; ++v) product[k << 8 | v] = static_cast<uint8_t>(k * v / 255);
    JSAMPARRAY buffer = (*cinfo.mem->alloc_sarray)(common, JPOOL_IMAGE, width * 4, 1);
    while (cinfo.output_scanline < height) {
      const JDIMENSION y = cinfo.output_scanline;
      if (jpeg_read_scanlines(&cinfo, buffer, 1) != 1) break;
      cmykToBgr(buffer[0], bottom + stride * (height - 1 - y), width, product);
    }
  } else {
    // Grey and blue-green-red rows need no conversion: decode straight into the record.
    while (cinfo.output_scanline < height) {
      JSAMPROW row = bottom + stride * (height - 1 - cinfo.output_scanline);
      if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) break;
    }
  }
  // Rows the library never delivered (rows are stored bottom-up, so they are the first ones).
  const bool rowsMissing = cinfo.output_scanline < height;
  if (rowsMissing) std::memset(bottom, 0, stride * (height - cinfo.output_scanline));
  jpeg_finish_decompress(&cinfo);
  record.header.biXPelsPerMeter = pelsPerMetre(cinfo.density_unit, cinfo.X_density);
  record.header.biYPelsPerMeter = pelsPerMetre(cinfo.density_unit, cinfo.Y_density);
  if (cinfo.density_unit != 1 && cinfo.density_unit != 2)
    record.header.biXPelsPerMeter = record.header.biYPelsPerMeter = 0;
  jpeg_destroy_decompress(&cinfo);
  // Missing data decode grey and corrupt data as whatever the library recovered: the picture
  // converts, but the source is reported as damaged.
  if (error.firstWarning[0]) reader.damage = error.firstWarning;
  else if (rowsMissing) reader.damage = "the picture data end early";
  return true;
}

bool decodeJpeg(JpegReader& reader) {
  reader.hasExif = false;
  reader.orientation = 1;
  reader.message.clear();
  reader.iccProfile.clear();
  if (!decodeStream(reader)) return false;
  ImageRecord& record = *reader.image;
  record.sourceBitCount = record.header.biBitCount;
  record.sourceFormat = kFormatJpeg;
  reader.cursor = reader.dataStart;
  reader.orientation = readLastExifOrientation(reader.dataStart, reader.length(), reader.hasExif);
  reader.iccProfile = readJpegIccProfile(reader.dataStart, reader.length());
  return true;
}

}  // namespace

int jpegScaleDenominator(uint32_t width, uint32_t height, uint32_t targetWidth,
                         uint32_t targetHeight) {
  if (targetWidth == 0 || targetHeight == 0) return 1;
  const uint32_t byWidth = width / targetWidth;
  const uint32_t byHeight = height / targetHeight;
  const uint32_t r = byWidth < byHeight ? byWidth : byHeight;
  return r >= 8 ? 8 : r >= 4 ? 4 : r >= 2 ? 2 : 1;
}

bool readJpegFile(JpegReader& reader, const std::filesystem::path& path, ImageRecord& record) {
  return readFromFile(reader, path, record, decodeJpeg);
}

bool readJpegMemory(JpegReader& reader, const uint8_t* bytes, size_t length, ImageRecord& record) {
  return readFromMemory(reader, bytes, length, record, decodeJpeg);
}

}  // namespace velorin
