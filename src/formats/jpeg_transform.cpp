#include "formats/jpeg_transform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "formats/exif.h"
#include "formats/input_file.h"
#include "formats/jpeg_library.h"
#include "formats/jpeg_reader.h"
#include "formats/output_file.h"

#include <jerror.h>

namespace velorin {

namespace {

JDIMENSION roundUp(JDIMENSION a, JDIMENSION b) { return (a + b - 1) / b; }

bool swapsAxes(int32_t transform) {
  return transform == kTransformRotate90 || transform == kTransformRotate270;
}

// What one transform works with besides the two library objects.
struct Workspace {
  int numComponents;
  JDIMENSION outputWidth;
  JDIMENSION outputHeight;
  JDIMENSION iMCUWidth;
  JDIMENSION iMCUHeight;
  jvirt_barray_ptr arrays[MAX_COMPONENTS];
  bool hasArrays;
};

// Rounds the size down to whole iMCUs when the source has the same number of whole iMCUs in
// that direction; an image smaller than one iMCU keeps its size.
void trimEdge(JDIMENSION& size, JDIMENSION iMCU, JDIMENSION full) {
  const JDIMENSION n = size / iMCU;
  if (n > 0 && n == full / iMCU) size = n * iMCU;
}

void requestWorkspace(j_decompress_ptr src, const JpegTransform& r, Workspace& ws) {
  ws.numComponents = r.forceGreyscale && src->jpeg_color_space == JCS_YCbCr && src->num_components == 3
                         ? 1
                         : src->num_components;
  const JDIMENSION width = src->image_width;
  const JDIMENSION height = src->image_height;
  const bool one = ws.numComponents == 1;
  const JDIMENSION maxH = static_cast<JDIMENSION>(src->max_h_samp_factor);
  const JDIMENSION maxV = static_cast<JDIMENSION>(src->max_v_samp_factor);
  const bool swap = swapsAxes(r.transform);
  ws.outputWidth = swap ? height : width;
  ws.outputHeight = swap ? width : height;
  ws.iMCUWidth = one ? DCTSIZE : (swap ? maxV : maxH) * DCTSIZE;
  ws.iMCUHeight = one ? DCTSIZE : (swap ? maxH : maxV) * DCTSIZE;
  switch (r.transform) {
    case kTransformRotate90: trimEdge(ws.outputWidth, ws.iMCUWidth, height); break;
    case kTransformRotate180:
      trimEdge(ws.outputWidth, ws.iMCUWidth, width);
      trimEdge(ws.outputHeight, ws.iMCUHeight, height);
      break;
    case kTransformRotate270: trimEdge(ws.outputHeight, ws.iMCUHeight, width); break;
    default: break;
  }
  ws.hasArrays = r.transform != kTransformNone;
  if (!ws.hasArrays) return;
  const JDIMENSION columns = roundUp(ws.outputWidth, ws.iMCUWidth);
  const JDIMENSION rows = roundUp(ws.outputHeight, ws.iMCUHeight);
  for (int ci = 0; ci < ws.numComponents; ++ci) {
    const jpeg_component_info& comp = src->comp_info[ci];
    const JDIMENSION h = one ? 1 : static_cast<JDIMENSION>(swap ? comp.v_samp_factor : comp.h_samp_factor);
    const JDIMENSION v = one ? 1 : static_cast<JDIMENSION>(swap ? comp.h_samp_factor : comp.v_samp_factor);
    ws.arrays[ci] = (*src->mem->request_virt_barray)(reinterpret_cast<j_common_ptr>(src), JPOOL_IMAGE,
                                                     FALSE, columns * h, rows * v, v);
  }
}

jpeg_saved_marker_ptr firstExifMarker(j_decompress_ptr src) {
  for (jpeg_saved_marker_ptr m = src->marker_list; m; m = m->next) {
    if (m->marker != JPEG_APP0 + 1) continue;
    static const uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (m->data_length >= 6 && std::memcmp(m->data, kExif, 6) == 0) return m;
    return nullptr;  // only the first APP1 counts
  }
  return nullptr;
}

jvirt_barray_ptr* adjustParameters(j_decompress_ptr src, j_compress_ptr dst, const JpegTransform& r,
                                   Workspace& ws, jvirt_barray_ptr* sourceArrays) {
  if (r.forceGreyscale) {
    const bool convertible = (src->jpeg_color_space == JCS_YCbCr && src->num_components == 3) ||
                             (src->jpeg_color_space == JCS_GRAYSCALE && src->num_components == 1);
    // Only a full-resolution first component can stand alone.
    if (!convertible || src->comp_info[0].h_samp_factor != src->max_h_samp_factor ||
        src->comp_info[0].v_samp_factor != src->max_v_samp_factor)
      ERREXIT(dst, JERR_CONVERSION_NOTIMPL);
    const int table = dst->comp_info[0].quant_tbl_no;
    jpeg_set_colorspace(dst, JCS_GRAYSCALE);
    dst->comp_info[0].quant_tbl_no = table;
  } else if (ws.numComponents == 1) {
    dst->comp_info[0].h_samp_factor = dst->comp_info[0].v_samp_factor = 1;
  }
  dst->image_width = ws.outputWidth;
  dst->image_height = ws.outputHeight;
  if (swapsAxes(r.transform)) {
    for (int ci = 0; ci < dst->num_components; ++ci) {
      jpeg_component_info& comp = dst->comp_info[ci];
      std::swap(comp.h_samp_factor, comp.v_samp_factor);
    }
    for (int t = 0; t < NUM_QUANT_TBLS; ++t) {
      JQUANT_TBL* table = dst->quant_tbl_ptrs[t];
      if (!table) continue;
      for (int i = 0; i < DCTSIZE; ++i)
        for (int j = 0; j < i; ++j) std::swap(table->quantval[i * DCTSIZE + j], table->quantval[j * DCTSIZE + i]);
    }
  }
  if (jpeg_saved_marker_ptr exif = firstExifMarker(src)) {
    dst->write_JFIF_header = FALSE;
    if (ws.outputWidth != src->image_width || ws.outputHeight != src->image_height)
      adjustExifDimensions(exif->data + 6, exif->data_length - 6, ws.outputWidth, ws.outputHeight);
  }
  return ws.hasArrays ? ws.arrays : sourceArrays;
}

void copyMarkers(j_decompress_ptr src, j_compress_ptr dst) {
  for (jpeg_saved_marker_ptr m = src->marker_list; m; m = m->next) {
    if (dst->write_JFIF_header && m->marker == JPEG_APP0 && m->data_length >= 5 &&
        std::memcmp(m->data, "JFIF", 5) == 0)
      continue;
    if (dst->write_Adobe_marker && m->marker == JPEG_APP0 + 14 && m->data_length >= 5 &&
        std::memcmp(m->data, "Adobe", 5) == 0)
      continue;
    jpeg_write_marker(dst, m->marker, m->data, m->data_length);
  }
}

// Coefficient rules inside one block; blocks are [v][u], v the row.
void transposeBlock(const JCOEF* in, JCOEF* out) {
  for (int v = 0; v < DCTSIZE; ++v)
    for (int u = 0; u < DCTSIZE; ++u) out[v * DCTSIZE + u] = in[u * DCTSIZE + v];
}
void rotate90Block(const JCOEF* in, JCOEF* out) {
  for (int v = 0; v < DCTSIZE; ++v)
    for (int u = 0; u < DCTSIZE; ++u) {
      const JCOEF c = in[u * DCTSIZE + v];
      out[v * DCTSIZE + u] = (u & 1) ? static_cast<JCOEF>(-c) : c;
    }
}
void rotate270Block(const JCOEF* in, JCOEF* out) {
  for (int v = 0; v < DCTSIZE; ++v)
    for (int u = 0; u < DCTSIZE; ++u) {
      const JCOEF c = in[u * DCTSIZE + v];
      out[v * DCTSIZE + u] = (v & 1) ? static_cast<JCOEF>(-c) : c;
    }
}
// Mirrors: negate odd columns (flipX), odd rows (flipY), or both.
void mirrorBlock(const JCOEF* in, JCOEF* out, bool flipX, bool flipY) {
  for (int v = 0; v < DCTSIZE; ++v)
    for (int u = 0; u < DCTSIZE; ++u) {
      const bool negate = ((flipX && (u & 1)) != (flipY && (v & 1)));
      const JCOEF c = in[v * DCTSIZE + u];
      out[v * DCTSIZE + u] = negate ? static_cast<JCOEF>(-c) : c;
    }
}

void executeTransform(j_decompress_ptr src, j_compress_ptr dst, const JpegTransform& r,
                      const Workspace& ws, jvirt_barray_ptr* sourceArrays) {
  if (!ws.hasArrays) return;
  j_common_ptr common = reinterpret_cast<j_common_ptr>(src);
  const bool swap = swapsAxes(r.transform);
  int maxH = 1;
  int maxV = 1;
  for (int ci = 0; ci < dst->num_components; ++ci) {
    maxH = std::max(maxH, dst->comp_info[ci].h_samp_factor);
    maxV = std::max(maxV, dst->comp_info[ci].v_samp_factor);
  }
  const JDIMENSION sourceWidth = swap ? src->image_height : src->image_width;
  const JDIMENSION sourceHeight = swap ? src->image_width : src->image_height;
  const JDIMENSION iMCUColumns = roundUp(ws.outputWidth, ws.iMCUWidth);
  const JDIMENSION iMCURows = roundUp(ws.outputHeight, ws.iMCUHeight);
  for (int ci = 0; ci < ws.numComponents; ++ci) {
    const JDIMENSION h = static_cast<JDIMENSION>(dst->comp_info[ci].h_samp_factor);
    const JDIMENSION v = static_cast<JDIMENSION>(dst->comp_info[ci].v_samp_factor);
    const JDIMENSION compWidth = sourceWidth / (static_cast<JDIMENSION>(maxH) * DCTSIZE) * h;
    const JDIMENSION compHeight = sourceHeight / (static_cast<JDIMENSION>(maxV) * DCTSIZE) * v;
    const JDIMENSION columns = iMCUColumns * h;
    const JDIMENSION rows = iMCURows * v;
    auto sourceRow = [&](JDIMENSION row) {
      return (*src->mem->access_virt_barray)(common, sourceArrays[ci], row, 1, FALSE)[0];
    };
    for (JDIMENSION y = 0; y < rows; ++y) {
      JBLOCKROW out = (*src->mem->access_virt_barray)(common, ws.arrays[ci], y, 1, TRUE)[0];
      switch (r.transform) {
        case kTransformRotate90:
          for (JDIMENSION x = 0; x < columns; ++x) {
            if (x < compWidth) rotate90Block(sourceRow(compWidth - 1 - x)[y], out[x]);
            else transposeBlock(sourceRow(x)[y], out[x]);
          }
          break;
        case kTransformRotate270:
          for (JDIMENSION x = 0; x < columns; ++x) {
            if (y < compHeight) rotate270Block(sourceRow(x)[compHeight - 1 - y], out[x]);
            else transposeBlock(sourceRow(x)[y], out[x]);
          }
          break;
        case kTransformRotate180: {
          const bool rowInside = y < compHeight;
          JBLOCKROW in = sourceRow(rowInside ? compHeight - 1 - y : y);
          for (JDIMENSION x = 0; x < columns; ++x) {
            const bool columnInside = x < compWidth;
            const JDIMENSION from = columnInside ? compWidth - 1 - x : x;
            mirrorBlock(in[from], out[x], columnInside, rowInside);
          }
          break;
        }
        default: break;
      }
    }
  }
}

// The library calls of one transform. Only plain data lives in this frame, so the error exit's
// longjmp skips no destructor.
bool runTransform(JpegTransform& r, const uint8_t* source, size_t length, JpegOutputTarget& target) {
  r.damage.clear();
  jpeg_decompress_struct in;
  jpeg_compress_struct out;
  std::memset(&in, 0, sizeof in);
  std::memset(&out, 0, sizeof out);
  JpegErrorManager error;
  in.err = out.err = installJpegErrorManager(error);
  if (setjmp(error.jump)) {
    r.message = error.message;
    jpeg_destroy_compress(&out);
    jpeg_destroy_decompress(&in);
    return false;
  }
  jpeg_create_decompress(&in);
  jpeg_create_compress(&out);
  setJpegMemorySource(&in, source, length);
  if (r.markerCopyOption == 1 || r.markerCopyOption == 2) jpeg_save_markers(&in, JPEG_COM, 0xFFFF);
  if (r.markerCopyOption == 2)
    for (int m = 0; m < 16; ++m) jpeg_save_markers(&in, JPEG_APP0 + m, 0xFFFF);
  const bool writeJfif = !(r.markerCopyOption == 2 && r.hasExif);
  jpeg_read_header(&in, TRUE);
  // The coefficients of the whole picture are held at once: a header claiming far more than its
  // data can describe is refused before they are allocated, as the reader refuses it.
  if (!entropyDataPlausible(uint64_t{in.image_width} * in.image_height, in.src->bytes_in_buffer)) {
    r.status = Status::BadImage;
    r.message = "the data is far too short for the picture's size";
    jpeg_destroy_compress(&out);
    jpeg_destroy_decompress(&in);
    return false;
  }
  r.sourceComponents = in.num_components;
  r.sourceIsColour = in.jpeg_color_space == JCS_YCbCr && in.num_components == 3;
  if (r.resetOrientation) {
    if (jpeg_saved_marker_ptr exif = firstExifMarker(&in))
      resetExifOrientation(exif->data + 6, exif->data_length - 6);
  }
  Workspace ws;
  std::memset(&ws, 0, sizeof ws);
  requestWorkspace(&in, r, ws);
  jvirt_barray_ptr* sourceArrays = jpeg_read_coefficients(&in);
  jpeg_copy_critical_parameters(&in, &out);
  jvirt_barray_ptr* arrays = adjustParameters(&in, &out, r, ws, sourceArrays);
  out.optimize_coding = TRUE;
  if (r.progressive) jpeg_simple_progression(&out);
  if (!writeJfif) out.write_JFIF_header = FALSE;
  setJpegDestination(&out, target);
  jpeg_write_coefficients(&out, arrays);
  copyMarkers(&in, &out);
  executeTransform(&in, &out, r, ws, sourceArrays);
  jpeg_finish_compress(&out);
  jpeg_finish_decompress(&in);
  r.outputWidth = out.image_width;
  r.outputHeight = out.image_height;
  const bool ok = finishJpegOutput(&out, target);
  jpeg_destroy_compress(&out);
  jpeg_destroy_decompress(&in);
  if (error.firstWarning[0]) r.damage = error.firstWarning;
  return ok;
}

void noteExif(JpegTransform& r, const uint8_t* source, size_t length) {
  MarkerWalker walker;
  walker.reset(source, length);
  walker.exifHook = exifPresentHook;
  walker.stopTest = stopAlways;
  walkMarkers(walker);
  r.hasExif = walker.hasExif;
}

bool failTransform(JpegTransform& r) {
  // A library error leaves the status at Ok; the call must still read as a failure.
  if (r.status == Status::Ok) r.status = Status::BadImage;
  return false;
}

}  // namespace

int32_t transformForRotation(int32_t rotation) {
  switch (rotation) {
    case 1: return kTransformRotate90;
    case 2: return kTransformRotate180;
    case 3: return kTransformRotate270;
    default: return kTransformNone;
  }
}

void setJpegTransformRequest(JpegTransform& r, int32_t rotation, bool greyscale,
                             int32_t markerCopyOption, bool progressive) {
  r.transform = transformForRotation(rotation);
  r.trim = true;
  r.forceGreyscale = greyscale;
  r.markerCopyOption = markerCopyOption;
  r.progressive = progressive;
  r.resetOrientation = r.transform != kTransformNone && markerCopyOption == 2;
}

bool transformJpeg(JpegTransform& r, const uint8_t* source, size_t length,
                   const std::filesystem::path& output) {
  r.status = Status::Ok;
  r.message.clear();
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(output.c_str(), "wb"));
  if (!file) {
    r.status = Status::CannotCreate;
    return false;
  }
  noteExif(r, source, length);
  JpegOutputTarget target;
  target.file = file.get();
  bool ok = runTransform(r, source, length, target);
  if (std::fclose(file.release()) != 0) ok = false;
  return ok || failTransform(r);
}

bool transformJpegToMemory(JpegTransform& r, const uint8_t* source, size_t length, uint8_t* buffer,
                           uint32_t& size) {
  r.status = Status::Ok;
  r.message.clear();
  noteExif(r, source, length);
  JpegOutputTarget target;
  target.buffer = buffer;
  target.capacity = size;
  if (!runTransform(r, source, length, target)) return failTransform(r);
  size = static_cast<uint32_t>(target.written);
  return true;
}

bool transformJpegFile(JpegTransform& r, const std::filesystem::path& source,
                       const std::filesystem::path& output) {
  r.status = Status::Ok;
  MappedFile mapped;
  if (!mapped.open(source)) {
    r.status = Status::Truncated;
    return false;
  }
  return transformJpeg(r, mapped.data(), mapped.size(), output);
}

bool transformExifThumbnail(const std::filesystem::path& output, const JpegTransform& request) {
  ExifThumbnailInfo info;
  if (!readExifThumbnailInfo(output, info) || info.room <= 0) return false;
  JpegTransform thumbnail;
  thumbnail.transform = request.transform;
  thumbnail.forceGreyscale = request.forceGreyscale;
  thumbnail.markerCopyOption = 0;
  thumbnail.progressive = false;
  std::vector<uint8_t> buffer(65533);
  uint32_t size = static_cast<uint32_t>(buffer.size());
  if (!transformJpegToMemory(thumbnail, info.payload.data() + info.thumbnailOffset,
                             info.thumbnailLength, buffer.data(), size))
    return false;
  return rewriteExifThumbnail(output, info, buffer.data(), size);
}

bool insertJpegComment(const uint8_t* jpeg, size_t length, const std::filesystem::path& output,
                       const std::string& comment, Status& status) {
  status = Status::Ok;
  size_t regionStart = 0;
  size_t regionEnd = 0;
  bool foundApp = false;
  bool foundComment = false;
  size_t p = 0;
  for (;;) {
    while (p < length && jpeg[p] != 0xFF) ++p;
    while (p < length && jpeg[p] == 0xFF) ++p;
    if (p >= length) break;
    const size_t markerStart = p - 1;
    const uint8_t code = jpeg[p++];
    if (code == 0xD8) continue;
    if (code == 0xD9 || code == 0xDA) break;
    if (length - p < 2) {
      status = Status::Truncated;
      return false;
    }
    const size_t segment = loadBe16(jpeg + p);
    if (segment < 2 || segment > length - p) {
      status = Status::Truncated;
      return false;
    }
    const size_t end = p + segment;
    if (code == 0xFE) {
      regionStart = markerStart;
      regionEnd = end;
      foundComment = true;
      break;
    }
    if (code == 0xE0 || code == 0xE1) {
      regionStart = regionEnd = end;
      foundApp = true;
    }
    p = end;
  }
  if (!foundApp && !foundComment) {
    // A file with neither (an Adobe-only CMYK stream) takes the comment right after SOI.
    if (length < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) {
      status = Status::CannotCreate;
      return false;
    }
    regionStart = regionEnd = 2;
  }
  std::string text = comment.substr(0, 4095);
  std::erase(text, '\r');
  if (text.empty() && !foundComment) return true;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(output.c_str(), "wb"));
  if (!file) {
    status = Status::CannotCreate;
    return false;
  }
  bool ok = std::fwrite(jpeg, 1, regionStart, file.get()) == regionStart;
  if (!text.empty()) {
    const size_t segment = text.size() + 2;
    const uint8_t head[4] = {0xFF, 0xFE, static_cast<uint8_t>(segment >> 8), static_cast<uint8_t>(segment)};
    ok = ok && std::fwrite(head, 1, 4, file.get()) == 4 &&
         std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
  }
  ok = ok && std::fwrite(jpeg + regionEnd, 1, length - regionEnd, file.get()) == length - regionEnd;
  if (std::fclose(file.release()) != 0) ok = false;
  if (!ok) status = Status::CannotWrite;
  return ok;
}

}  // namespace velorin
