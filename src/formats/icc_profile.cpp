#include "formats/icc_profile.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "formats/exif.h"
#include "formats/input_file.h"

namespace velorin {

namespace {

constexpr uint8_t kJpegIccName[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
constexpr size_t kIccHeaderSize = 128;

}  // namespace

bool isUsableIccProfile(const uint8_t* p, size_t length) {
  // A header and a tag count at the least.
  if (!p || length < kIccHeaderSize + 4 || length > kMaxIccProfileSize) return false;
  return loadBe32(p) == length && std::memcmp(p + 36, "acsp", 4) == 0;
}

bool isRgbIccProfile(const std::vector<uint8_t>& profile) {
  return isUsableIccProfile(profile.data(), profile.size()) &&
         std::memcmp(profile.data() + 16, "RGB ", 4) == 0;
}

std::vector<uint8_t> readJpegIccProfile(const uint8_t* jpeg, size_t length) {
  struct Piece {
    const uint8_t* data = nullptr;
    size_t size = 0;
  };
  Piece pieces[256] = {};
  int chainLength = 0;
  size_t total = 0;
  bool consistent = true;
  const bool walked = forEachJpegSegment(jpeg, length, [&](uint8_t marker, const uint8_t* payload, size_t size) {
    if (marker != 0xE2 || size <= 14 || std::memcmp(payload, kJpegIccName, 12) != 0) return true;
    const int sequence = payload[12];
    const int count = payload[13];
    // Numbers out of range, a second chain length or the same piece twice: no sound profile.
    if (sequence == 0 || count == 0 || sequence > count || (chainLength != 0 && chainLength != count) ||
        pieces[sequence].data) {
      consistent = false;
      return false;
    }
    chainLength = count;
    pieces[sequence] = {payload + 14, size - 14};
    total += size - 14;
    return true;
  });
  if (!walked || !consistent) return {};
  if (chainLength == 0 || total > kMaxIccProfileSize) return {};
  std::vector<uint8_t> profile;
  profile.reserve(total);
  for (int i = 1; i <= chainLength; ++i) {
    if (!pieces[i].data) return {};
    profile.insert(profile.end(), pieces[i].data, pieces[i].data + pieces[i].size);
  }
  if (!isUsableIccProfile(profile.data(), profile.size())) return {};
  return profile;
}

std::vector<std::vector<uint8_t>> jpegIccSegments(const std::vector<uint8_t>& profile) {
  std::vector<std::vector<uint8_t>> segments;
  if (profile.empty() || profile.size() > kMaxIccProfileSize) return segments;
  const size_t count = (profile.size() + kJpegIccPieceSize - 1) / kJpegIccPieceSize;
  for (size_t i = 0; i < count; ++i) {
    const size_t start = i * kJpegIccPieceSize;
    const size_t size = std::min(kJpegIccPieceSize, profile.size() - start);
    std::vector<uint8_t> payload(kJpegIccName, kJpegIccName + 12);
    payload.push_back(static_cast<uint8_t>(i + 1));
    payload.push_back(static_cast<uint8_t>(count));
    payload.insert(payload.end(), profile.begin() + static_cast<std::ptrdiff_t>(start),
                   profile.begin() + static_cast<std::ptrdiff_t>(start + size));
    segments.push_back(std::move(payload));
  }
  return segments;
}

std::vector<uint8_t> readPngIccChunk(const uint8_t* data, size_t length) {
  // The profile name: 1 to 79 bytes and its terminating zero, then compression method 0.
  size_t nameEnd = 0;
  while (nameEnd < length && nameEnd < 80 && data[nameEnd] != 0) ++nameEnd;
  if (nameEnd == 0 || nameEnd >= 80 || nameEnd + 2 > length || data[nameEnd + 1] != 0) return {};
  const uint8_t* stream = data + nameEnd + 2;
  const size_t streamSize = length - nameEnd - 2;
  if (streamSize > 0xFFFFFFFFu) return {};

  z_stream z{};
  if (inflateInit(&z) != Z_OK) return {};
  z.next_in = const_cast<Bytef*>(stream);
  z.avail_in = static_cast<uInt>(streamSize);
  std::vector<uint8_t> profile;
  int result = Z_OK;
  // Inflated in steps, so a small chunk cannot make a huge allocation before it is refused.
  while (result == Z_OK) {
    const size_t have = profile.size();
    if (have >= kMaxIccProfileSize) break;
    const size_t step = std::min<size_t>(have < 65536 ? 65536 : have, kMaxIccProfileSize - have);
    profile.resize(have + step);
    z.next_out = profile.data() + have;
    z.avail_out = static_cast<uInt>(step);
    result = inflate(&z, Z_NO_FLUSH);
    profile.resize(have + (step - z.avail_out));
    if (result == Z_BUF_ERROR && z.avail_out != 0) break;  // the stream stops short
    if (result == Z_BUF_ERROR) result = Z_OK;
  }
  inflateEnd(&z);
  if (result != Z_STREAM_END || !isUsableIccProfile(profile.data(), profile.size())) return {};
  return profile;
}

std::vector<uint8_t> makePngIccChunk(const std::vector<uint8_t>& profile) {
  static const char kName[] = "ICC Profile";
  uLongf bound = compressBound(static_cast<uLong>(profile.size()));
  std::vector<uint8_t> chunk(sizeof kName + 1 + bound);
  std::memcpy(chunk.data(), kName, sizeof kName);  // with its zero
  chunk[sizeof kName] = 0;                           // compression method
  if (compress2(chunk.data() + sizeof kName + 1, &bound, profile.data(),
                static_cast<uLong>(profile.size()), 9) != Z_OK)
    return {};
  chunk.resize(sizeof kName + 1 + bound);
  return chunk;
}

}  // namespace velorin
