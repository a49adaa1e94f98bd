// giflib as the reference decoder of the GIF tests: the first image of a file, placed on its
// logical screen the way our reader places it, with its colour table and transparency.
#pragma once

#include <gif_lib.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/image.h"

namespace velorin::test {

struct GifOracleImage {
  bool ok = false;
  int screenWidth = 0;
  int screenHeight = 0;
  std::vector<uint8_t> indices;   // screen-sized, top row first
  std::vector<RgbColour> table;   // the active colour table, as many entries as it has
  bool hasGlobalTable = false;
  RgbColour globalBackground;     // global table entry at the background index, if any
  bool transparent = false;
  int transparentIndex = -1;
  bool interlaced = false;
  int backgroundIndex = 0;
};

namespace detail {
struct MemorySource {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
};
inline int readFromMemorySource(GifFileType* gif, GifByteType* out, int wanted) {
  auto* source = static_cast<MemorySource*>(gif->UserData);
  const size_t left = source->size - source->at;
  const size_t n = static_cast<size_t>(wanted) < left ? static_cast<size_t>(wanted) : left;
  std::memcpy(out, source->data + source->at, n);
  source->at += n;
  return static_cast<int>(n);
}
inline std::vector<RgbColour> tableOf(const ColorMapObject* map) {
  std::vector<RgbColour> table;
  for (int i = 0; map && i < map->ColorCount; ++i)
    table.push_back({map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue});
  return table;
}
}  // namespace detail

inline GifOracleImage giflibFirstImage(const std::vector<uint8_t>& bytes) {
  GifOracleImage result;
  detail::MemorySource source{bytes.data(), bytes.size()};
  int error = 0;
  GifFileType* gif = DGifOpen(&source, detail::readFromMemorySource, &error);
  if (!gif) return result;
  result.screenWidth = gif->SWidth;
  result.screenHeight = gif->SHeight;
  result.hasGlobalTable = gif->SColorMap != nullptr;
  if (gif->SColorMap) {
    result.backgroundIndex = gif->SBackGroundColor;
    if (gif->SBackGroundColor < gif->SColorMap->ColorCount) {
      const GifColorType& c = gif->SColorMap->Colors[gif->SBackGroundColor];
      result.globalBackground = {c.Red, c.Green, c.Blue};
    }
  }
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR || type == TERMINATE_RECORD_TYPE) break;
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) break;
      if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
        GraphicsControlBlock control;
        DGifExtensionToGCB(block[0], block + 1, &control);
        result.transparent = control.TransparentColor != NO_TRANSPARENT_COLOR;
        result.transparentIndex = control.TransparentColor;
      }
      bool failed = false;
      while (block) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) {
          failed = true;
          break;
        }
      }
      if (failed) break;
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(gif) == GIF_ERROR) break;
    const GifImageDesc& d = gif->Image;
    if (d.Left + d.Width > gif->SWidth || d.Top + d.Height > gif->SHeight) break;
    result.interlaced = d.Interlace;
    result.table = detail::tableOf(d.ColorMap ? d.ColorMap : gif->SColorMap);
    result.indices.assign(static_cast<size_t>(gif->SWidth) * gif->SHeight,
                          static_cast<uint8_t>(result.backgroundIndex));
    std::vector<GifPixelType> line(static_cast<size_t>(d.Width) + 1);
    // Rows come in file order; an interlaced file sends its four passes one after the other.
    std::vector<int> order;
    if (d.Interlace) {
      const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < d.Height; y += step[pass]) order.push_back(y);
    } else {
      for (int y = 0; y < d.Height; ++y) order.push_back(y);
    }
    bool lines = true;
    for (int y : order) {
      if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR) {
        lines = false;
        break;
      }
      std::memcpy(&result.indices[static_cast<size_t>(d.Top + y) * gif->SWidth + d.Left],
                  line.data(), static_cast<size_t>(d.Width));
    }
    result.ok = lines;
    break;
  }
  DGifCloseFile(gif, &error);
  return result;
}

}  // namespace velorin::test

namespace velorin::test {

// A GIF made by giflib's own encoder, so the reader is tested on files it did not write.
struct GiflibImageSpec {
  int screenWidth = 0;
  int screenHeight = 0;
  std::vector<RgbColour> globalTable;  // empty: none; else a power of two entries
  int backgroundIndex = 0;
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  bool interlaced = false;
  std::vector<RgbColour> localTable;
  int transparentIndex = -1;
  std::vector<uint8_t> indices;  // width x height, top row first
};

namespace detail {
inline int writeToVector(GifFileType* gif, const GifByteType* data, int length) {
  auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
  out->insert(out->end(), data, data + length);
  return length;
}
inline ColorMapObject* mapOf(const std::vector<RgbColour>& table) {
  if (table.empty()) return nullptr;
  std::vector<GifColorType> colours;
  for (const RgbColour& c : table) colours.push_back({c.red, c.green, c.blue});
  return GifMakeMapObject(static_cast<int>(colours.size()), colours.data());
}
}  // namespace detail

inline std::vector<uint8_t> giflibEncode(const GiflibImageSpec& spec) {
  std::vector<uint8_t> out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, detail::writeToVector, &error);
  if (!gif) return {};
  EGifSetGifVersion(gif, true);
  ColorMapObject* global = detail::mapOf(spec.globalTable);
  ColorMapObject* local = detail::mapOf(spec.localTable);
  bool ok = EGifPutScreenDesc(gif, spec.screenWidth, spec.screenHeight, 8, spec.backgroundIndex,
                              global) == GIF_OK;
  if (ok && spec.transparentIndex >= 0) {
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSAL_UNSPECIFIED;
    control.TransparentColor = spec.transparentIndex;
    GifByteType block[4];
    const size_t length = EGifGCBToExtension(&control, block);
    ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), block) == GIF_OK;
  }
  ok = ok && EGifPutImageDesc(gif, spec.left, spec.top, spec.width, spec.height, spec.interlaced,
                              local) == GIF_OK;
  std::vector<int> order;
  if (spec.interlaced) {
    const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
      for (int y = start[pass]; y < spec.height; y += step[pass]) order.push_back(y);
  } else {
    for (int y = 0; y < spec.height; ++y) order.push_back(y);
  }
  for (int y : order) {
    if (!ok) break;
    std::vector<GifPixelType> line(spec.indices.begin() + static_cast<ptrdiff_t>(y) * spec.width,
                                   spec.indices.begin() + static_cast<ptrdiff_t>(y + 1) * spec.width);
    ok = EGifPutLine(gif, line.data(), spec.width) == GIF_OK;
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(global);
  GifFreeMapObject(local);
  return ok ? out : std::vector<uint8_t>{};
}

}  // namespace velorin::test
