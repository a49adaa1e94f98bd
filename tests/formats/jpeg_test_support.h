// JPEG fixtures for the codec and pipeline tests: streams made by libjpeg-turbo itself, EXIF
// blocks built byte by byte, the reference decode and a segment lister.
#pragma once

#include <jpeglib.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "formats/input_file.h"

namespace velorin::test {

// One decode by the library with its defaults (blue-green-red for colour, CMYK as stored), rows
// top-down without padding.
struct LibraryImage {
  int width = 0;
  int height = 0;
  int components = 0;
  int densityUnit = 0;
  int xDensity = 0;
  int yDensity = 0;
  int hSamp = 0;
  int vSamp = 0;
  int jpegComponents = 0;
  std::vector<int> quantTable0;  // natural order... as the library stores it
  std::vector<uint8_t> rows;
  bool ok = false;
};

namespace detail {
struct TestErrorManager {
  jpeg_error_mgr library;
  jmp_buf jump;
};
inline void testErrorExit(j_common_ptr cinfo) {
  longjmp(reinterpret_cast<TestErrorManager*>(cinfo->err)->jump, 1);
}
inline void testQuiet(j_common_ptr) {}

inline bool libraryDecode(const std::vector<uint8_t>& bytes, int denominator, LibraryImage* out,
                          std::vector<uint8_t>* rows) {
  jpeg_decompress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  TestErrorManager error;
  cinfo.err = jpeg_std_error(&error.library);
  error.library.error_exit = testErrorExit;
  error.library.output_message = testQuiet;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.scale_num = 1;
  cinfo.scale_denom = static_cast<unsigned>(denominator);
  if (cinfo.out_color_space == JCS_RGB) cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  out->width = static_cast<int>(cinfo.output_width);
  out->height = static_cast<int>(cinfo.output_height);
  out->components = cinfo.output_components;
  out->densityUnit = cinfo.density_unit;
  out->xDensity = cinfo.X_density;
  out->yDensity = cinfo.Y_density;
  out->jpegComponents = cinfo.num_components;
  out->hSamp = cinfo.comp_info[0].h_samp_factor;
  out->vSamp = cinfo.comp_info[0].v_samp_factor;
  if (cinfo.quant_tbl_ptrs[0]) {
    for (int i = 0; i < DCTSIZE2; ++i) out->quantTable0.push_back(cinfo.quant_tbl_ptrs[0]->quantval[i]);
  }
  const size_t rowBytes = static_cast<size_t>(out->width) * out->components;
  rows->assign(rowBytes * out->height, 0);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = rows->data() + rowBytes * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

inline bool libraryEncode(int width, int height, int components, const uint8_t* rows, int quality,
                          int hSamp, int vSamp, bool cmyk, std::vector<uint8_t>& out) {
  jpeg_compress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  TestErrorManager error;
  cinfo.err = jpeg_std_error(&error.library);
  error.library.error_exit = testErrorExit;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  if (cmyk) {
    jpeg_set_colorspace(&cinfo, JCS_YCCK);
    cinfo.write_Adobe_marker = TRUE;
  }
  if (components == 3) {
    cinfo.comp_info[0].h_samp_factor = hSamp;
    cinfo.comp_info[0].v_samp_factor = vSamp;
  }
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  const size_t rowBytes = static_cast<size_t>(width) * components;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rows + rowBytes * cinfo.next_scanline);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  out.assign(buffer, buffer + size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return true;
}
}  // namespace detail

inline LibraryImage libraryDecode(const std::vector<uint8_t>& bytes, int denominator = 1) {
  LibraryImage image;
  std::vector<uint8_t> rows;
  image.ok = detail::libraryDecode(bytes, denominator, &image, &rows);
  image.rows = std::move(rows);
  return image;
}

// A smooth test picture of the given size, top-down rows of components bytes per pixel.
inline std::vector<uint8_t> testPicture(int width, int height, int components) {
  std::vector<uint8_t> rows(static_cast<size_t>(width) * height * components);
  size_t i = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < components; ++c)
        rows[i++] = static_cast<uint8_t>((x * (c + 1) * 255 / (width > 1 ? width : 1) + y * 3 + c * 40) & 0xFF);
  return rows;
}

inline std::vector<uint8_t> libraryEncode(int width, int height, int components, int quality = 90,
                                          int hSamp = 2, int vSamp = 2, bool cmyk = false) {
  const std::vector<uint8_t> rows = testPicture(width, height, components);
  std::vector<uint8_t> out;
  detail::libraryEncode(width, height, components, rows.data(), quality, hSamp, vSamp, cmyk, out);
  return out;
}

// A marker segment from its code and payload.
inline std::vector<uint8_t> segment(uint8_t code, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> s = {0xFF, code, static_cast<uint8_t>((payload.size() + 2) >> 8),
                            static_cast<uint8_t>(payload.size() + 2)};
  s.insert(s.end(), payload.begin(), payload.end());
  return s;
}

// The stream with the segment put right after SOI.
inline std::vector<uint8_t> withSegmentAfterSoi(const std::vector<uint8_t>& jpeg,
                                                const std::vector<uint8_t>& seg) {
  std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  out.insert(out.end(), seg.begin(), seg.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

// The marker segments before the first scan: code, offset of the 0xFF, length field.
struct SegmentInfo {
  uint8_t code;
  size_t offset;
  uint32_t length;
};
inline std::vector<SegmentInfo> listSegments(const std::vector<uint8_t>& jpeg) {
  std::vector<SegmentInfo> list;
  size_t p = 2;
  while (p + 4 <= jpeg.size() && jpeg[p] == 0xFF) {
    const uint8_t code = jpeg[p + 1];
    const uint32_t length = loadBe16(&jpeg[p + 2]);
    list.push_back({code, p, length});
    if (code == 0xDA) break;
    p += 2 + length;
  }
  return list;
}

// An EXIF payload ("Exif", 0, 0, TIFF) with the tags the converter reads and writes.
struct ExifSpec {
  bool bigEndian = false;
  int orientation = 0;  // 0: no Orientation entry
  std::string dateTime; // empty: no DateTimeOriginal
  bool dimensions = true;  // PixelXDimension and PixelYDimension as SHORT 1 x 1
  std::vector<uint8_t> thumbnail;  // empty: no IFD1
};

inline std::vector<uint8_t> exifPayload(const ExifSpec& spec) {
  std::vector<uint8_t> t;
  auto u16 = [&](uint32_t v) {
    if (spec.bigEndian) { t.push_back(static_cast<uint8_t>(v >> 8)); t.push_back(static_cast<uint8_t>(v)); }
    else { t.push_back(static_cast<uint8_t>(v)); t.push_back(static_cast<uint8_t>(v >> 8)); }
  };
  auto u32 = [&](uint32_t v) {
    if (spec.bigEndian) { u16(v >> 16); u16(v & 0xFFFF); } else { u16(v & 0xFFFF); u16(v >> 16); }
  };
  auto short32 = [&](uint32_t v) {  // a SHORT value left-justified in the value field
    u16(v);
    u16(0);
  };
  // Layout: header 8, IFD0 at 8 (2 entries), sub-IFD after it, IFD1, then the data.
  const uint32_t ifd0 = 8;
  const uint32_t ifd0Entries = (spec.orientation ? 1 : 0) + 1;
  const uint32_t sub = ifd0 + 2 + 12 * ifd0Entries + 4;
  const uint32_t subEntries = (spec.dateTime.empty() ? 0 : 1) + (spec.dimensions ? 2 : 0);
  const uint32_t ifd1 = sub + 2 + 12 * subEntries + 4;
  const bool thumb = !spec.thumbnail.empty();
  const uint32_t dateAt = ifd1 + (thumb ? 2 + 2 * 12 + 4 : 0);
  const uint32_t thumbAt = dateAt + (spec.dateTime.empty() ? 0 : 20);
  t.push_back(spec.bigEndian ? 'M' : 'I');
  t.push_back(spec.bigEndian ? 'M' : 'I');
  u16(42);
  u32(ifd0);
  u16(ifd0Entries);
  if (spec.orientation) { u16(274); u16(3); u32(1); short32(static_cast<uint32_t>(spec.orientation)); }
  u16(34665); u16(4); u32(1); u32(sub);
  u32(thumb ? ifd1 : 0);
  u16(subEntries);
  if (!spec.dateTime.empty()) { u16(36867); u16(2); u32(20); u32(dateAt); }
  if (spec.dimensions) {
    u16(40962); u16(3); u32(1); short32(1);
    u16(40963); u16(3); u32(1); short32(1);
  }
  u32(0);
  if (thumb) {
    u16(2);
    u16(513); u16(4); u32(1); u32(thumbAt);
    u16(514); u16(4); u32(1); u32(static_cast<uint32_t>(spec.thumbnail.size()));
    u32(0);
  }
  if (!spec.dateTime.empty()) {
    std::string date = spec.dateTime;
    date.resize(20, '\0');
    t.insert(t.end(), date.begin(), date.end());
  }
  t.insert(t.end(), spec.thumbnail.begin(), spec.thumbnail.end());
  const uint8_t header[6] = {'E', 'x', 'i', 'f', 0, 0};
  t.insert(t.begin(), header, header + sizeof header);
  return t;
}

}  // namespace velorin::test
