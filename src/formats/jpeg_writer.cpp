#include "formats/jpeg_writer.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "formats/exif.h"
#include "formats/icc_profile.h"
#include "formats/jpeg_library.h"
#include "formats/output_file.h"
#include "imaging/stop_flag.h"

namespace velorin {

namespace {

void writeSegment(j_compress_ptr cinfo, int marker, const std::vector<uint8_t>& payload) {
  // A payload the segment length cannot hold is left out rather than cut.
  if (payload.empty() || payload.size() > 65533) return;
  jpeg_write_marker(cinfo, marker, payload.data(), static_cast<unsigned>(payload.size()));
}

// The library calls of one encode. Only plain data lives in this frame, so the error exit's
// longjmp skips no destructor.
bool encodeStream(JpegWriter& w, const uint8_t* rows, uint32_t stride,
                  const std::vector<std::vector<uint8_t>>& iccSegments, JpegOutputTarget& target) {
  jpeg_compress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  JpegErrorManager error;
  cinfo.err = installJpegErrorManager(error);
  if (setjmp(error.jump)) {
    w.message = error.message;
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  setJpegDestination(&cinfo, target);

  cinfo.image_width = static_cast<JDIMENSION>(w.width);
  cinfo.image_height = static_cast<JDIMENSION>(w.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  cinfo.optimize_coding = TRUE;
  if (w.greyscale) {
    jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
  } else {
    cinfo.comp_info[0].h_samp_factor = w.hSamp;
    cinfo.comp_info[0].v_samp_factor = w.vSamp;
  }
  jpeg_set_quality(&cinfo, w.quality, TRUE);
  if (w.progressive) jpeg_simple_progression(&cinfo);
  if (w.xPelsPerMeter != 0 && w.yPelsPerMeter != 0) {
    cinfo.density_unit = 1;
    cinfo.X_density = static_cast<UINT16>(w.xPelsPerMeter * 0.0254 + 0.5);
    cinfo.Y_density = static_cast<UINT16>(w.yPelsPerMeter * 0.0254 + 0.5);
  }
  const bool exif = w.exif.size() > 6;
  if (exif) cinfo.write_JFIF_header = FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  if (exif) {
    adjustExifDimensions(w.exif.data() + 6, w.exif.size() - 6, cinfo.image_width,
                         cinfo.image_height);
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, w.exif.data(), static_cast<unsigned>(w.exif.size()));
  }
  writeSegment(&cinfo, JPEG_APP0 + 1, w.xmp);
  if (!w.greyscale)
    for (const std::vector<uint8_t>& segment : iccSegments)
      writeSegment(&cinfo, JPEG_APP0 + 2, segment);
  writeSegment(&cinfo, JPEG_APP0 + 13, w.iptc);
  if (!w.comment.empty()) {
    const size_t length = characterBoundary(w.comment, 4095);
    jpeg_write_marker(&cinfo, JPEG_COM, reinterpret_cast<const JOCTET*>(w.comment.data()),
                      static_cast<unsigned>(length));
  }
  const uint8_t* row = rows + static_cast<size_t>(stride) * (cinfo.image_height - 1);
  while (cinfo.next_scanline < cinfo.image_height && !conversionStopRequested()) {
    JSAMPROW pointer = const_cast<JSAMPROW>(row);
    jpeg_write_scanlines(&cinfo, &pointer, 1);
    row -= stride;
  }
  if (cinfo.next_scanline < cinfo.image_height) {  // abandoned
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_finish_compress(&cinfo);
  const bool ok = finishJpegOutput(&cinfo, target);
  jpeg_destroy_compress(&cinfo);
  return ok;
}

// The rows the library reads: the caller's when they are 24-bit, else a converted copy.
bool trueColourRows(JpegWriter& w, const RgbQuad* palette, const uint8_t* pixels,
                    PixelBuffer& converted, const uint8_t*& rows) {
  rows = pixels;
  if (w.sourceBitCount == 24) return true;
  DepthConverter& c = w.converter;
  c.width = w.width;
  c.height = w.height;
  setDepthConversion(c, w.sourceBitCount, 24);
  if (c.targetImageSize == 0 || !converted.allocate(c.targetImageSize)) {
    w.status = Status::NoMemory;
    return false;
  }
  RgbQuad unused[256];
  if (!convertDepth(c, palette, pixels, unused, converted.data())) {
    w.status = Status::CannotWrite;
    return false;
  }
  rows = converted.data();
  return true;
}

uint32_t trueColourStride(const JpegWriter& w) {
  const uint64_t stride = paddedStride(w.width, 24);
  return stride >= kMaxBlockSize ? 0 : static_cast<uint32_t>(stride);
}

bool failEncode(JpegWriter& w) {
  // A library error leaves the status at Ok; the call must still read as a failure.
  if (w.status == Status::Ok) w.status = Status::CannotWrite;
  return false;
}

std::unique_ptr<std::FILE, FileCloser> createOutput(JpegWriter& w, const std::filesystem::path& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) w.status = Status::CannotCreate;
  return file;
}

// The copies of the source's metadata belong to one call.
void clearCopies(JpegWriter& w) {
  w.exif.clear();
  w.xmp.clear();
  w.iptc.clear();
  w.iccProfile.clear();
}

}  // namespace

size_t characterBoundary(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text.size();
  size_t length = maxBytes;
  // Back over the continuation bytes of a sequence the cut would split.
  while (length > 0 && (static_cast<uint8_t>(text[length]) & 0xC0) == 0x80) --length;
  return length;
}

void setupJpegWriter(JpegWriter& w, int32_t width, int32_t height, int32_t sourceBitCount) {
  w.status = Status::Ok;
  w.width = width < 0 ? 0 : width;
  w.height = height < 0 ? 0 : height;
  w.sourceBitCount = sourceBitCount;
  w.converter = DepthConverter{};
  w.converter.width = w.width;
  w.converter.height = w.height;
  setDepthConversion(w.converter, sourceBitCount, 24);
  w.quality = 75;
  w.hSamp = w.vSamp = 2;
  w.greyscale = w.progressive = false;
  w.xPelsPerMeter = w.yPelsPerMeter = 0;
  clearCopies(w);
  w.comment.clear();
  w.message.clear();
}

void setJpegWriterOptions(JpegWriter& w, int32_t quality, int32_t sampling, bool greyscale,
                          bool progressive) {
  w.quality = quality > 100 ? 75 : quality;
  w.hSamp = sampling == 2 ? 1 : 2;
  w.vSamp = sampling == 1 || sampling == 2 ? 1 : 2;
  w.greyscale = greyscale;
  w.progressive = progressive;
}

bool writeJpeg(JpegWriter& w, const std::filesystem::path& path, const RgbQuad* palette,
               const uint8_t* pixels) {
  w.status = Status::Ok;
  PixelBuffer converted;
  const uint8_t* rows = nullptr;
  bool ok = trueColourRows(w, palette, pixels, converted, rows);
  if (ok) {
    auto file = createOutput(w, path);
    ok = file != nullptr;
    if (ok) {
      const auto segments = jpegIccSegments(w.iccProfile);
      JpegOutputTarget target;
      target.file = file.get();
      ok = encodeStream(w, rows, trueColourStride(w), segments, target);
      if (std::fclose(file.release()) != 0) ok = false;
      if (!ok) failEncode(w);
    }
  }
  clearCopies(w);
  return ok;
}

bool searchJpegQuality(int32_t& quality, uint32_t limit, uint32_t& size,
                       const std::function<bool(int32_t, uint32_t&)>& encode) {
  if (!encode(quality, size)) return false;
  if (size <= limit || quality <= 1) return true;
  int32_t step = quality / 2;
  quality -= step;
  int32_t lastFit = 1;
  do {
    if (!encode(quality, size)) return false;
    if (quality == 1) break;
    if (step > 1) step /= 2;
    if (size > limit) {
      quality -= step;
    } else {
      if (lastFit == quality) break;
      lastFit = quality;
      quality += step;
    }
  } while (quality >= 1);
  return true;
}

bool encodeJpegLimited(JpegWriter& w, uint8_t* buffer, uint32_t& size, const RgbQuad* palette,
                       const uint8_t* pixels, uint32_t limit) {
  w.status = Status::Ok;
  PixelBuffer converted;
  const uint8_t* rows = nullptr;
  bool ok = trueColourRows(w, palette, pixels, converted, rows);
  if (ok) {
    const uint32_t capacity = size;
    const uint32_t stride = trueColourStride(w);
    const auto segments = jpegIccSegments(w.iccProfile);
    // The copy is adjusted in place on every attempt; the adjustment is idempotent.
    ok = searchJpegQuality(w.quality, limit, size, [&](int32_t quality, uint32_t& encoded) {
      w.quality = quality;
      JpegOutputTarget target;
      target.buffer = buffer;
      target.capacity = capacity;
      if (!encodeStream(w, rows, stride, segments, target)) return false;
      encoded = static_cast<uint32_t>(target.written);
      return true;
    });
    if (!ok) failEncode(w);
  }
  clearCopies(w);
  return ok;
}

bool writeJpegWithLimit(JpegWriter& w, const std::filesystem::path& path, const RgbQuad* palette,
                        const uint8_t* pixels, uint32_t limitKiloBytes) {
  w.status = Status::Ok;
  const uint64_t rowBytes = (3 * static_cast<uint64_t>(w.width) + 3) & ~uint64_t{3};
  uint64_t bufferSize = rowBytes * static_cast<uint64_t>(w.height) + w.exif.size() + 2;
  bufferSize += w.xmp.size() + w.iptc.size() + w.iccProfile.size() + 4 * 255 + 14 * 255;
  bufferSize += w.comment.size();
  // Room for the markers and tables of a tiny image, whose stream can exceed its pixels.
  bufferSize += 4096;
  if (bufferSize > 0xFFFFFFFFu) {
    w.status = Status::CannotCreate;
    clearCopies(w);
    return false;
  }
  PixelBuffer buffer;
  if (!buffer.allocate(bufferSize)) {
    w.status = Status::NoMemory;
    clearCopies(w);
    return false;
  }
  uint32_t size = static_cast<uint32_t>(bufferSize);
  if (!encodeJpegLimited(w, buffer.data(), size, palette, pixels, limitKiloBytes * 1024u))
    return false;
  auto file = createOutput(w, path);
  if (!file) return false;
  bool ok = std::fwrite(buffer.data(), 1, size, file.get()) == size;
  if (std::fclose(file.release()) != 0) ok = false;
  if (!ok) w.status = Status::CannotWrite;
  return ok;
}

}  // namespace velorin
