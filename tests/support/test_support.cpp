#include "support/test_support.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>

namespace velorin::test {

std::filesystem::path testdata(const std::string& relative) {
  return std::filesystem::path(VELORIN_TESTDATA) / relative;
}

std::vector<uint8_t> readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::set<std::string> treeOf(const std::filesystem::path& root) {
  std::set<std::string> items;
  for (const auto& item : std::filesystem::recursive_directory_iterator(root))
    items.insert(std::filesystem::relative(item.path(), root).string());
  return items;
}

TempFolder::TempFolder() {
  std::random_device random;
  path_ = std::filesystem::temp_directory_path() / ("velorin-test-" + std::to_string(random()));
  std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

Bytes& Bytes::u8(uint32_t v) {
  data.push_back(static_cast<uint8_t>(v));
  return *this;
}
Bytes& Bytes::le16(uint32_t v) { return u8(v).u8(v >> 8); }
Bytes& Bytes::le32(uint32_t v) { return le16(v).le16(v >> 16); }
Bytes& Bytes::be16(uint32_t v) { return u8(v >> 8).u8(v); }
Bytes& Bytes::be32(uint32_t v) { return be16(v >> 16).be16(v); }
Bytes& Bytes::text(const std::string& s) {
  data.insert(data.end(), s.begin(), s.end());
  return *this;
}
Bytes& Bytes::zeros(size_t n) {
  data.insert(data.end(), n, 0);
  return *this;
}

Bytes& Bytes::subBlocks(const std::vector<uint8_t>& payload) {
  for (size_t at = 0; at < payload.size(); at += 255) {
    const size_t n = std::min<size_t>(255, payload.size() - at);
    u8(static_cast<uint32_t>(n));
    data.insert(data.end(), payload.begin() + at, payload.begin() + at + n);
  }
  return u8(0);
}

std::vector<uint8_t> makeBmp(int32_t width, int32_t height, int bitCount,
                             const std::vector<RgbQuad>& palette, const std::vector<uint8_t>& rows,
                             uint32_t compression, uint32_t coloursUsed) {
  const uint32_t offset = 54 + 4 * static_cast<uint32_t>(palette.size());
  Bytes b;
  b.text("BM").le32(offset + static_cast<uint32_t>(rows.size())).le32(0).le32(offset);
  b.le32(40).le32(static_cast<uint32_t>(width)).le32(static_cast<uint32_t>(height)).le16(1).le16(bitCount);
  b.le32(compression).le32(0).le32(2835).le32(2835).le32(coloursUsed).le32(0);
  for (const RgbQuad& q : palette) b.u8(q.blue).u8(q.green).u8(q.red).u8(q.reserved);
  b.data.insert(b.data.end(), rows.begin(), rows.end());
  return b.data;
}

RgbColour pixelAt(const ImageRecord& record, int32_t x, int32_t y) {
  const int32_t row = record.header.biHeight - 1 - y;
  const uint64_t stride = paddedStride(record.header.biWidth, record.header.biBitCount);
  const uint8_t* p = record.pixels.data() + row * stride;
  if (record.header.biBitCount == 8) {
    const RgbQuad& q = record.palette[p[x]];
    return {q.red, q.green, q.blue};
  }
  return {p[3 * x + 2], p[3 * x + 1], p[3 * x]};
}

}  // namespace velorin::test
