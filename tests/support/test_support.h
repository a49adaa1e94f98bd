// Helpers every test program shares.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "imaging/image.h"

namespace velorin::test {

// A file of the public conformance suites, read in place.
std::filesystem::path testdata(const std::string& relative);

std::vector<uint8_t> readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Everything below root (files, folders, links not followed) by path relative to root.
std::set<std::string> treeOf(const std::filesystem::path& root);

// A fresh empty folder for one test, removed when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Little-endian byte builder for hand-made files.
struct Bytes {
  std::vector<uint8_t> data;
  Bytes& u8(uint32_t v);
  Bytes& le16(uint32_t v);
  Bytes& le32(uint32_t v);
  Bytes& be16(uint32_t v);
  Bytes& be32(uint32_t v);
  Bytes& text(const std::string& s);
  Bytes& zeros(size_t n);
  // GIF data sub-blocks of at most 255 bytes, then the empty block that ends them.
  Bytes& subBlocks(const std::vector<uint8_t>& payload);
};

// Packs codes least significant bit first, as a GIF code stream holds them.
struct CodePacker {
  std::vector<uint8_t> bytes;
  uint64_t bits = 0;
  int count = 0;
  void put(uint32_t code, int size) {
    bits |= uint64_t{code} << count;
    count += size;
    while (count >= 8) {
      bytes.push_back(static_cast<uint8_t>(bits));
      bits >>= 8;
      count -= 8;
    }
  }
  std::vector<uint8_t> finish() {
    if (count > 0) bytes.push_back(static_cast<uint8_t>(bits));
    return bytes;
  }
};

// A bitmap file: 54-byte headers, palette entries, then the given pixel rows (already padded).
std::vector<uint8_t> makeBmp(int32_t width, int32_t height, int bitCount,
                             const std::vector<RgbQuad>& palette, const std::vector<uint8_t>& rows,
                             uint32_t compression = 0, uint32_t coloursUsed = 0);

// Pixel (x, y) of a record, y counted from the top of the picture, as blue, green, red.
RgbColour pixelAt(const ImageRecord& record, int32_t x, int32_t y);

}  // namespace velorin::test
