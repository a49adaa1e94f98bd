#include "imaging/depth_converter.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace velorin {

namespace {

int64_t sourceStride(const DepthConverter& c) {
  return static_cast<int64_t>(paddedStride(c.width, c.sourceBits));
}

// ---------------------------------------------------------------------------------------------
// Tables: distances and diffusion shares are look-ups, never per-pixel multiplications.

struct ArithmeticTables {
  int32_t square[511];   // d * d for d = -255..255
  // round(k x e / 16) for k = 7, 5, 3, 1, halves away from zero, e = -255..255: the four
  // shares of one error side by side, as each diffusion step needs all of them.
  struct Shares {
    int16_t right, below, belowLeft, belowRight;
  } shares[511];
  uint8_t clamp[766];    // v clamped to 0..255 for v = -255..510

  ArithmeticTables() {
    for (int d = -255; d <= 255; ++d) {
      square[d + 255] = d * d;
      const int magnitude = d < 0 ? -d : d;
      const int sign = d < 0 ? -1 : 1;
      auto share = [&](int k) { return static_cast<int16_t>(sign * ((magnitude * k + 8) / 16)); };
      shares[d + 255] = {share(7), share(5), share(3), share(1)};
    }
    for (int v = -255; v <= 510; ++v) clamp[v + 255] = static_cast<uint8_t>(std::clamp(v, 0, 255));
  }
};

const ArithmeticTables& arithmetic() {
  static const ArithmeticTables tables;
  return tables;
}

// Offset views so that the tables can be indexed by signed values directly.
struct Lookups {
  const int32_t* sq;
  const ArithmeticTables::Shares* shares;
  const uint8_t* clamp;
  Lookups() {
    const ArithmeticTables& t = arithmetic();
    sq = t.square + 255;
    shares = t.shares + 255;
    clamp = t.clamp + 255;
  }
};

// ---------------------------------------------------------------------------------------------
// The 2^24-bit presence map, with a rank index so that each present colour has a dense number.

// Bit count without a library call: builds for baseline x86-64 have no popcount instruction,
// and the rank below runs once per pixel.
inline uint32_t bitCount(uint64_t x) {
  x = x - ((x >> 1) & 0x5555555555555555ull);
  x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<uint32_t>((x * 0x0101010101010101ull) >> 56);
}

class ColourSet {
 public:
  static constexpr uint32_t kWords = (1u << 24) / 64;

  bool allocate() {
    bits_.reset(new (std::nothrow) uint64_t[kWords]());
    ranks_.reset(new (std::nothrow) uint32_t[kWords]);
    return bits_ && ranks_;
  }
  // True when the colour was not marked before.
  bool mark(uint32_t colour) {
    uint64_t& word = bits_[colour >> 6];
    const uint64_t bit = uint64_t{1} << (colour & 63);
    const bool fresh = (word & bit) == 0;
    word |= bit;
    return fresh;
  }
  bool contains(uint32_t colour) const {
    return (bits_[colour >> 6] >> (colour & 63)) & 1;
  }
  void buildRanks() {
    uint32_t total = 0;
    for (uint32_t i = 0; i < kWords; ++i) {
      ranks_[i] = total;
      total += bitCount(bits_[i]);
    }
  }
  // The number of marked colours below this one (valid after buildRanks).
  uint32_t rank(uint32_t colour) const {
    const uint64_t below = (uint64_t{1} << (colour & 63)) - 1;
    return ranks_[colour >> 6] + bitCount(bits_[colour >> 6] & below);
  }
  // Marked colours in ascending order.
  template <class Visit>
  void forEach(Visit visit) const {
    for (uint32_t i = 0; i < kWords; ++i) {
      uint64_t word = bits_[i];
      while (word) {
        visit(i * 64 + static_cast<uint32_t>(std::countr_zero(word)));
        word &= word - 1;
      }
    }
  }

 private:
  std::unique_ptr<uint64_t[]> bits_;
  std::unique_ptr<uint32_t[]> ranks_;
};

inline uint32_t colourKey(const uint8_t* bgr) {
  return bgr[0] | bgr[1] << 8 | static_cast<uint32_t>(bgr[2]) << 16;
}
inline uint32_t colourKey(const RgbQuad& q) {
  return q.blue | q.green << 8 | static_cast<uint32_t>(q.red) << 16;
}
inline RgbQuad quadOf(uint32_t colour) {
  return {static_cast<uint8_t>(colour), static_cast<uint8_t>(colour >> 8),
          static_cast<uint8_t>(colour >> 16), 0};
}

// The source pixels as colour keys in storage order (memory row 0 first, left to right), read
// in place: the reduction keeps only the two rows that diffusion is working on, never a copy
// of the whole image.
class SourceColours {
 public:
  SourceColours(const DepthConverter& c, const RgbQuad* palette, const uint8_t* pixels)
      : width_(c.width), height_(c.height), indexed_(c.sourceBits == 8), pixels_(pixels),
        stride_(sourceStride(c)) {
    if (indexed_)
      for (int i = 0; i < 256; ++i) paletteKeys_[i] = colourKey(palette[i]);
  }
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  uint32_t at(const uint8_t* row, int32_t x) const {
    return indexed_ ? paletteKeys_[row[x]] : colourKey(row + 3 * x);
  }
  const uint8_t* row(int32_t y) const { return pixels_ + y * stride_; }
  // Calls visit(key) for every pixel until it returns false.
  template <class Visit>
  void forEach(Visit visit) const {
    for (int32_t y = 0; y < height_; ++y) {
      const uint8_t* in = row(y);
      for (int32_t x = 0; x < width_; ++x)
        if (!visit(at(in, x))) return;
    }
  }
  // Row y as B, G, R, 0 per pixel.
  void loadRow(int32_t y, uint8_t* out) const {
    const uint8_t* in = row(y);
    for (int32_t x = 0; x < width_; ++x) {
      const uint32_t key = at(in, x);
      out[4 * x] = static_cast<uint8_t>(key);
      out[4 * x + 1] = static_cast<uint8_t>(key >> 8);
      out[4 * x + 2] = static_cast<uint8_t>(key >> 16);
      out[4 * x + 3] = 0;
    }
  }

 private:
  int32_t width_, height_;
  bool indexed_;
  const uint8_t* pixels_;
  int64_t stride_;
  uint32_t paletteKeys_[256] = {};
};

// Marks every pixel's colour; the number of distinct colours, 0 without pixels.
uint32_t countDistinctColours(ColourSet& set, const SourceColours& source) {
  uint32_t distinct = 0;
  source.forEach([&](uint32_t key) {
    distinct += set.mark(key);
    return true;
  });
  return distinct;
}

// ---------------------------------------------------------------------------------------------
// Where the indices go: packed rows for convertDepth, one byte per pixel for convertToIndexBytes.

struct IndexTarget {
  uint8_t* base = nullptr;
  int64_t stride = 0;
  int bits = 8;
  bool packed = false;
};

void storeRow(const IndexTarget& target, int32_t y, const uint8_t* indices, int32_t width) {
  uint8_t* out = target.base + y * target.stride;
  if (!target.packed) {
    std::memcpy(out, indices, static_cast<size_t>(width));
    return;
  }
  const int bits = target.bits;
  if (bits == 8) {
    std::memcpy(out, indices, static_cast<size_t>(width));
    std::memset(out + width, 0, static_cast<size_t>(target.stride - width));
    return;
  }
  std::memset(out, 0, static_cast<size_t>(target.stride));
  const int perByte = 8 / bits;
  for (int32_t x = 0; x < width; ++x) {
    const int shift = 8 - bits * (x % perByte + 1);
    out[x / perByte] |= static_cast<uint8_t>(indices[x] << shift);
  }
}

// ---------------------------------------------------------------------------------------------
// Nearest palette entry: smallest unweighted squared distance, the first entry winning ties.
// Candidates are kept per cell of the colour cube: an entry whose nearest possible distance to
// the cell exceeds the smallest farthest distance of any entry can never be nearest inside the
// cell, so leaving it out changes no result. A cell of 16 x 16 x 16 colours is prepared when a
// pixel first falls into it: its candidates, then from those the candidates of its 64 cells of
// 4 x 4 x 4 (what the larger cell excludes, a smaller one inside it excludes too). The small
// cells of one large cell and their lists sit together in memory, as nearby colours do in an
// image. Candidates keep palette order, so the first of equal distances still wins.

class NearestColour {
 public:
  NearestColour(const RgbQuad* palette, int count, const Lookups& lookups)
      : palette_(palette), count_(count), sq_(lookups.sq) {}

  bool prepare() {
    try {
      blocks_.assign(kLargeCells, kUnbuilt);
      memoColour_.assign(kMemoSize, UINT32_MAX);
      memoIndex_.assign(kMemoSize, 0);
      candidates_.reserve(64 * 1024);
      cells_.reserve(64 * 256);
      for (int i = 0; i < count_; ++i)
        paletteCandidates_.push_back(
            {palette_[i].blue, palette_[i].green, palette_[i].red, static_cast<uint8_t>(i)});
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  // False only when memory runs out while a cell is prepared.
  bool find(int b, int g, int r, int& index) {
    // Neighbouring pixels often repeat a colour, even with diffusion: a direct-mapped memo of
    // recent answers saves many searches.
    const uint32_t colour = static_cast<uint32_t>(r << 16 | g << 8 | b);
    const uint32_t slot = (colour * 2654435761u) >> (32 - kMemoBits);
    if (memoColour_[slot] == colour) {
      index = memoIndex_[slot];
      return true;
    }
    const uint32_t large = (r >> 4) << 8 | (g >> 4) << 4 | (b >> 4);
    if (blocks_[large] == kUnbuilt && !buildBlock(large)) return false;
    const Cell& cell =
        cells_[blocks_[large] + (((r >> 2) & 3) << 4 | ((g >> 2) & 3) << 2 | ((b >> 2) & 3))];
    const Candidate* c = candidates_.data() + cell.start;
    int best = 195076;  // more than 3 x 255 x 255
    int bestIndex = 0;
    for (uint32_t i = 0; i < cell.count; ++i) {
      const int d = sq_[b - c[i].blue] + sq_[g - c[i].green] + sq_[r - c[i].red];
      const bool closer = d < best;
      best = closer ? d : best;
      bestIndex = closer ? c[i].index : bestIndex;
    }
    memoColour_[slot] = colour;
    memoIndex_[slot] = static_cast<uint8_t>(bestIndex);
    index = bestIndex;
    return true;
  }

 private:
  struct Candidate {
    uint8_t blue, green, red, index;
  };
  struct Cell {
    uint32_t start;
    uint32_t count;
  };
  static constexpr uint32_t kLargeCells = 16 * 16 * 16;
  static constexpr uint32_t kUnbuilt = UINT32_MAX;
  static constexpr int kMemoBits = 12;
  static constexpr uint32_t kMemoSize = 1u << kMemoBits;

  static int nearestGap(int value, int low, int side) {
    return value < low ? low - value : value > low + side ? value - (low + side) : 0;
  }
  static int farthestGap(int value, int low, int side) {
    return std::max(std::abs(value - low), std::abs(value - (low + side)));
  }

  // The candidates among `from` for the cell [low, low + side] on each channel, into `out`.
  void selectCandidates(const std::vector<Candidate>& from, int lowB, int lowG, int lowR,
                        int side, std::vector<Candidate>& out) const {
    int bound = INT32_MAX;
    for (const Candidate& p : from) {
      const int far = sq_[farthestGap(p.blue, lowB, side)] + sq_[farthestGap(p.green, lowG, side)] +
                      sq_[farthestGap(p.red, lowR, side)];
      bound = std::min(bound, far);
    }
    // The entry with the smallest farthest gap always qualifies, so no cell is empty.
    for (const Candidate& p : from) {
      const int near = sq_[nearestGap(p.blue, lowB, side)] + sq_[nearestGap(p.green, lowG, side)] +
                       sq_[nearestGap(p.red, lowR, side)];
      if (near <= bound) out.push_back(p);
    }
  }

  bool buildBlock(uint32_t large) {
    const int lowR = static_cast<int>(large >> 8) << 4;
    const int lowG = static_cast<int>((large >> 4) & 15) << 4;
    const int lowB = static_cast<int>(large & 15) << 4;
    try {
      largeCandidates_.clear();
      selectCandidates(paletteCandidates_, lowB, lowG, lowR, 15, largeCandidates_);
      blocks_[large] = static_cast<uint32_t>(cells_.size());
      for (int small = 0; small < 64; ++small) {
        const size_t start = candidates_.size();
        selectCandidates(largeCandidates_, lowB + ((small & 3) << 2), lowG + (((small >> 2) & 3) << 2),
                         lowR + ((small >> 4) << 2), 3, candidates_);
        cells_.push_back({static_cast<uint32_t>(start), static_cast<uint32_t>(candidates_.size() - start)});
      }
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  const RgbQuad* palette_;
  int count_;
  const int32_t* sq_;
  std::vector<uint32_t> blocks_;  // per large cell: its first small cell in cells_
  std::vector<Cell> cells_;
  std::vector<Candidate> candidates_;
  std::vector<Candidate> paletteCandidates_;
  std::vector<Candidate> largeCandidates_;
  std::vector<uint32_t> memoColour_;
  std::vector<uint8_t> memoIndex_;
};

// ---------------------------------------------------------------------------------------------
// Median cut over weighted colours. A box's statistics depend only on the colours it holds and
// how often, so boxes of distinct colours with counts give the same palette as boxes of pixel
// numbers, at a fraction of the work.

struct Box {
  uint32_t first = 0;
  uint32_t last = 0;
  int priority = 0;
  int splitChannel = 0;  // 0 blue, 1 green, 2 red: the byte of the colour key
  int splitValue = 0;
  int splitMaximum = 0;
  RgbQuad colour;
};

inline int channelOf(uint32_t colour, int channel) { return (colour >> (8 * channel)) & 0xFF; }

void measureBox(const WeightedColour* colours, Box& box) {
  uint32_t histogram[3][256] = {};
  uint64_t pixels = 0;
  for (uint32_t i = box.first; i <= box.last; ++i) {
    const uint32_t c = colours[i].colour, n = colours[i].count;
    histogram[0][c & 0xFF] += n;
    histogram[1][(c >> 8) & 0xFF] += n;
    histogram[2][(c >> 16) & 0xFF] += n;
    pixels += n;
  }
  const uint64_t half = pixels / 2;
  int median[3], minimum[3], maximum[3];
  for (int ch = 0; ch < 3; ++ch) {
    minimum[ch] = 0;
    while (minimum[ch] < 255 && histogram[ch][minimum[ch]] == 0) ++minimum[ch];
    maximum[ch] = 255;
    while (maximum[ch] > 0 && histogram[ch][maximum[ch]] == 0) --maximum[ch];
    uint64_t cumulative = 0;
    median[ch] = 255;
    for (int v = 0; v < 256; ++v) {
      cumulative += histogram[ch][v];
      if (cumulative > half) {
        median[ch] = v;
        break;
      }
    }
  }
  const int weighted[3] = {maximum[0] - minimum[0], 2 * (maximum[1] - minimum[1]),
                           (3 * (maximum[2] - minimum[2])) / 2};
  // Ties go to red over green and green over blue.
  int channel = 2;
  if (weighted[1] > weighted[channel]) channel = 1;
  if (weighted[0] > weighted[channel]) channel = 0;
  box.splitChannel = channel;
  box.priority = weighted[channel];
  box.splitValue = median[channel];
  box.splitMaximum = maximum[channel];
  box.colour = {static_cast<uint8_t>(median[0]), static_cast<uint8_t>(median[1]),
                static_cast<uint8_t>(median[2]), 0};
}

// ---------------------------------------------------------------------------------------------
// Error diffusion. Right is the next pixel of the row, below the same column one memory row on;
// which neighbours take a share depends only on the position: right unless last in the row,
// the three below unless in the last row, below-left not from the first column, below-right not
// from the last.

// Step is the bytes per pixel of the buffer, Channels how many of them carry a value; `under`
// is the same column one memory row on.
template <int Step, int Channels, bool Right, bool Below, bool BelowLeft, bool BelowRight>
inline void diffuse(const Lookups& t, uint8_t* here, uint8_t* under, const int* error) {
  for (int ch = 0; ch < Channels; ++ch) {
    const ArithmeticTables::Shares share = t.shares[error[ch]];
    if (Right) here[Step + ch] = t.clamp[here[Step + ch] + share.right];
    if (Below) under[ch] = t.clamp[under[ch] + share.below];
    if (BelowLeft) under[ch - Step] = t.clamp[under[ch - Step] + share.belowLeft];
    if (BelowRight) under[Step + ch] = t.clamp[under[Step + ch] + share.belowRight];
  }
}

// Runs visit<Right, Below, BelowLeft, BelowRight>(x) over one row by the position table; the
// first and last pixels are handled apart so that the run between them tests nothing.
template <class Row>
inline void forRowPositions(int32_t width, bool lastRow, Row& row) {
  if (width == 1) {
    if (lastRow) row.template visit<false, false, false, false>(0);
    else row.template visit<false, true, false, false>(0);
  } else if (!lastRow) {
    row.template visit<true, true, false, true>(0);
    for (int32_t x = 1; x + 1 < width; ++x) row.template visit<true, true, true, true>(x);
    row.template visit<false, true, true, false>(width - 1);
  } else {
    for (int32_t x = 0; x + 1 < width; ++x) row.template visit<true, false, false, false>(x);
    row.template visit<false, false, false, false>(width - 1);
  }
}

// The exact palette of an image with at most `limit` colours; returns the entries filled.
int exactPalette(const DepthConverter& c, const RgbQuad* sourcePalette,
                 const SourceColours& source, const ColourSet& set, uint32_t distinct, int limit,
                 RgbQuad* palette) {
  int filled = 0;
  if (c.sourceBits == 8) {
    // The distinct palette entries in palette order, whole entries copied. When they do not all
    // fit, unused entries would push used colours out: then only the used ones are taken.
    RgbQuad distinctEntries[256];
    int count = 0;
    for (int i = 0; i < 256; ++i) {
      const uint32_t key = colourKey(sourcePalette[i]);
      bool seen = false;
      for (int j = 0; j < count && !seen; ++j) seen = colourKey(distinctEntries[j]) == key;
      if (!seen) distinctEntries[count++] = sourcePalette[i];
    }
    for (int i = 0; i < count; ++i) {
      if (count > limit && !set.contains(colourKey(distinctEntries[i]))) continue;
      palette[filled++] = distinctEntries[i];
    }
    return filled;
  }
  // 24 bits: colours in order of first appearance, then a selection sort by blue + green + red.
  std::vector<bool> taken(distinct, false);
  RgbQuad found[256];
  source.forEach([&](uint32_t key) {
    const uint32_t rank = set.rank(key);
    if (!taken[rank]) {
      taken[rank] = true;
      found[filled++] = quadOf(key);
    }
    return filled < static_cast<int>(distinct);
  });
  auto sum = [](const RgbQuad& q) { return q.blue + q.green + q.red; };
  for (int j = 0; j < filled; ++j) {
    int smallest = j;
    for (int k = j + 1; k < filled; ++k)
      if (sum(found[k]) < sum(found[smallest])) smallest = k;
    std::swap(found[j], found[smallest]);
  }
  std::copy(found, found + filled, palette);
  return filled;
}

// The image colour nearest to each fixed colour, the first such pixel in storage order winning
// ties. The smallest distance is found over the distinct colours; only a tie needs the pixels.
void matchFixedColours(const Lookups& t, const WeightedColour* colours, uint32_t distinct,
                       const SourceColours& source, const RgbQuad* fixed, int count,
                       RgbQuad* out) {
  auto distance = [&](uint32_t colour, const RgbQuad& f) {
    return t.sq[channelOf(colour, 0) - f.blue] + t.sq[channelOf(colour, 1) - f.green] +
           t.sq[channelOf(colour, 2) - f.red];
  };
  int best[8];
  int ties[8];
  uint32_t choice[8] = {};
  for (int f = 0; f < count; ++f) {
    best[f] = 195076;
    ties[f] = 0;
    for (uint32_t i = 0; i < distinct; ++i) {
      const int d = distance(colours[i].colour, fixed[f]);
      if (d < best[f]) {
        best[f] = d;
        ties[f] = 1;
        choice[f] = colours[i].colour;
      } else if (d == best[f]) {
        ++ties[f];
      }
    }
  }
  int open = 0;
  for (int f = 0; f < count; ++f) open += ties[f] > 1;
  if (open > 0) {
    source.forEach([&](uint32_t key) {
      for (int f = 0; f < count; ++f) {
        if (ties[f] > 1 && distance(key, fixed[f]) == best[f]) {
          choice[f] = key;
          ties[f] = 1;
          --open;
        }
      }
      return open > 0;
    });
  }
  for (int f = 0; f < count; ++f) out[f] = quadOf(choice[f]);
}

const RgbQuad kCornerColours[8] = {
    {0, 0, 0, 0},     {255, 255, 255, 0}, {255, 0, 0, 0},   {0, 255, 0, 0},
    {0, 0, 255, 0},   {255, 255, 0, 0},   {255, 0, 255, 0}, {0, 255, 255, 0},
};  // B, G, R: black, white, blue, green, red, cyan, magenta, yellow; the first five are the primaries

// Maps every pixel to its nearest palette entry, diffusing the error when asked. Diffusion
// reaches one row ahead only, so two rows of B, G, R, 0 suffice: the row being mapped and the
// next one, which collects its share before its own turn.
struct ColourRow {
  const Lookups& t;
  NearestColour& nearest;
  const RgbQuad* palette;
  uint8_t* current;
  uint8_t* next;
  uint8_t* indices;
  bool failed = false;

  template <bool Right, bool Below, bool BelowLeft, bool BelowRight>
  void visit(int32_t x) {
    uint8_t* p = current + 4 * x;
    int index = 0;
    failed |= !nearest.find(p[0], p[1], p[2], index);
    indices[x] = static_cast<uint8_t>(index);
    const RgbQuad& q = palette[index];
    const int error[3] = {p[0] - q.blue, p[1] - q.green, p[2] - q.red};
    diffuse<4, 3, Right, Below, BelowLeft, BelowRight>(t, p, next + 4 * x, error);
  }
};

bool mapNearest(const Lookups& t, const SourceColours& source, const RgbQuad* palette,
                int entries, bool dither, const IndexTarget& target, uint8_t* rowIndices) {
  NearestColour nearest(palette, entries, t);
  const int32_t width = source.width(), height = source.height();
  std::vector<uint8_t> rows;
  try {
    rows.resize(8 * static_cast<size_t>(width) + 8);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!nearest.prepare()) return false;
  ColourRow row{t, nearest, palette, rows.data(), rows.data() + 4 * static_cast<size_t>(width),
                rowIndices};
  if (dither) source.loadRow(0, row.current);
  for (int32_t y = 0; y < height; ++y) {
    if (!dither) {
      const uint8_t* in = source.row(y);
      for (int32_t x = 0; x < width; ++x) {
        const uint32_t key = source.at(in, x);
        int index = 0;
        if (!nearest.find(key & 0xFF, (key >> 8) & 0xFF, static_cast<int>(key >> 16), index))
          return false;
        rowIndices[x] = static_cast<uint8_t>(index);
      }
    } else {
      const bool lastRow = y + 1 == height;
      if (!lastRow) source.loadRow(y + 1, row.next);
      forRowPositions(width, lastRow, row);
      if (row.failed) return false;
      std::swap(row.current, row.next);
    }
    storeRow(target, y, rowIndices, width);
  }
  return true;
}

// Indexed reduction to 2^bits colours (bits 2..8) from an 8- or 24-bit source.
bool reduceIndexed(const DepthConverter& c, const RgbQuad* sourcePalette, const uint8_t* source,
                   RgbQuad* targetPalette, const IndexTarget& target) {
  if (c.sourceBits != 8 && c.sourceBits != 24) return false;
  const int bits = c.targetBits;
  const int colours = 1 << bits;
  // The limit of a working copy at 4 bytes a pixel holds even though none is made.
  const uint64_t workingSize = checkedBlockSize(4 * static_cast<int64_t>(c.width), c.height);
  if (workingSize == 0 || workingSize >= kMaxBlockSize) return false;
  const SourceColours pixels(c, sourcePalette, source);
  ColourSet set;
  if (!set.allocate()) return false;
  const uint32_t distinct = countDistinctColours(set, pixels);
  if (distinct == 0) return false;
  set.buildRanks();
  std::vector<uint8_t> rowIndices(static_cast<size_t>(c.width));
  const Lookups t;

  if (distinct <= static_cast<uint32_t>(colours)) {
    const int filled =
        exactPalette(c, sourcePalette, pixels, set, distinct, colours, targetPalette);
    // Each colour's first equal entry; every colour the pixels use is in the palette.
    std::vector<uint8_t> indexOfRank(distinct, 0);
    std::vector<bool> assigned(distinct, false);
    for (int i = 0; i < filled; ++i) {
      const uint32_t key = colourKey(targetPalette[i]);
      if (!set.contains(key)) continue;
      const uint32_t rank = set.rank(key);
      if (assigned[rank]) continue;
      assigned[rank] = true;
      indexOfRank[rank] = static_cast<uint8_t>(i);
    }
    for (int32_t y = 0; y < c.height; ++y) {
      const uint8_t* in = pixels.row(y);
      for (int32_t x = 0; x < c.width; ++x) rowIndices[x] = indexOfRank[set.rank(pixels.at(in, x))];
      storeRow(target, y, rowIndices.data(), c.width);
    }
    return true;
  }

  // Too many colours: median cut, fixed colours with dithering, nearest entries.
  std::vector<WeightedColour> list;
  try {
    list.resize(distinct);
  } catch (const std::bad_alloc&) {
    return false;
  }
  uint32_t n = 0;
  set.forEach([&](uint32_t colour) { list[n++].colour = colour; });
  pixels.forEach([&](uint32_t key) {
    ++list[set.rank(key)].count;
    return true;
  });
  int fixedCount = 0;
  if (c.dither && bits == 3) fixedCount = 5;
  else if (c.dither && bits >= 4) fixedCount = 8;
  const int cutColours = colours - fixedCount;
  RgbQuad fixedMatches[8];
  if (fixedCount)
    matchFixedColours(t, list.data(), distinct, pixels, kCornerColours, fixedCount, fixedMatches);
  if (!medianCut(list.data(), distinct, cutColours, targetPalette)) return false;
  std::copy(fixedMatches, fixedMatches + fixedCount, targetPalette + cutColours);
  list = {};
  return mapNearest(t, pixels, targetPalette, colours, c.dither, target, rowIndices.data());
}

// 1 bit: grey thresholded at 128 against black and white, with the same diffusion.
struct GreyRow {
  const Lookups& t;
  uint8_t* current;
  uint8_t* next;
  uint8_t* bits;

  template <bool Right, bool Below, bool BelowLeft, bool BelowRight>
  void visit(int32_t x) {
    const int value = current[x];
    const bool white = value >= 128;
    bits[x] = white;
    const int error[1] = {white ? value - 255 : value};
    diffuse<1, 1, Right, Below, BelowLeft, BelowRight>(t, current + x, next + x, error);
  }
};

bool reduceBlackWhite(const DepthConverter& c, const RgbQuad* sourcePalette, const uint8_t* source,
                      RgbQuad* targetPalette, const IndexTarget& target) {
  if (c.sourceBits != 8 && c.sourceBits != 24) return false;
  PixelBuffer grey;
  const uint64_t size = checkedBlockSize(c.width, c.height);
  if (size == 0 || size >= kMaxBlockSize || !grey.allocate(size)) return false;
  if (c.sourceBits == 8) greyFromIndexed(c, sourcePalette, source, grey.data());
  else greyFromTrueColour(c, source, grey.data());
  targetPalette[0] = {0, 0, 0, 0};
  targetPalette[1] = {255, 255, 255, 0};
  std::vector<uint8_t> rowBits(static_cast<size_t>(c.width));
  const Lookups t;
  for (int32_t y = 0; y < c.height; ++y) {
    uint8_t* row = grey.data() + static_cast<int64_t>(y) * c.width;
    if (c.dither) {
      GreyRow visitor{t, row, row + c.width, rowBits.data()};
      forRowPositions(c.width, y + 1 == c.height, visitor);
    } else {
      for (int32_t x = 0; x < c.width; ++x) rowBits[x] = row[x] >= 128;
    }
    storeRow(target, y, rowBits.data(), c.width);
  }
  return true;
}

// Unpacks 1-, 2- or 4-bit fields, most significant first, to one index per byte.
void unpackIndices(const DepthConverter& c, const uint8_t* source, uint8_t* target,
                   int64_t targetStride) {
  const int bits = c.sourceBits;
  const int mask = (1 << bits) - 1;
  for (int32_t y = 0; y < c.height; ++y) {
    const uint8_t* in = source + y * sourceStride(c);
    uint8_t* out = target + y * targetStride;
    for (int32_t x = 0; x < c.width; ++x) {
      const int64_t bit = static_cast<int64_t>(x) * bits;
      out[x] = static_cast<uint8_t>(in[bit >> 3] >> (8 - bits - (bit & 7)) & mask);
    }
  }
}

// Each index (of sourceBits 1, 4 or 8) through the palette to blue, green, red.
void expandThroughPalette(const DepthConverter& c, const RgbQuad* palette, const uint8_t* source,
                          uint8_t* target) {
  const int bits = c.sourceBits;
  const int mask = (1 << bits) - 1;
  for (int32_t y = 0; y < c.height; ++y) {
    const uint8_t* in = source + y * sourceStride(c);
    uint8_t* out = target + static_cast<int64_t>(y) * c.targetStride;
    for (int32_t x = 0; x < c.width; ++x) {
      const int64_t bit = static_cast<int64_t>(x) * bits;
      const RgbQuad& colour = palette[in[bit >> 3] >> (8 - bits - (bit & 7)) & mask];
      out[3 * x] = colour.blue;
      out[3 * x + 1] = colour.green;
      out[3 * x + 2] = colour.red;
    }
  }
}

}  // namespace

bool medianCut(WeightedColour* colours, uint32_t count, int paletteSize, RgbQuad* palette) {
  if (count == 0 || paletteSize < 1 || paletteSize > 256) return false;
  Box boxes[256];
  int boxCount = 1;
  boxes[0].first = 0;
  boxes[0].last = count - 1;
  measureBox(colours, boxes[0]);
  for (int split = 1; split < paletteSize; ++split) {
    int chosen = 0;
    for (int i = 1; i < boxCount; ++i)
      if (boxes[i].priority > boxes[chosen].priority) chosen = i;
    Box& box = boxes[chosen];
    if (box.priority == 0) return false;  // nothing left to split: fewer colours than entries
    const int threshold =
        box.splitValue == box.splitMaximum ? box.splitValue - 1 : box.splitValue;
    const int channel = box.splitChannel;
    // Values at most the threshold first. j and k are signed so that k may step below first.
    int64_t j = box.first, k = box.last;
    while (j < k) {
      if (channelOf(colours[j].colour, channel) > threshold) {
        std::swap(colours[j], colours[k]);
        --k;
      } else {
        ++j;
      }
    }
    if (channelOf(colours[j].colour, channel) > threshold) --k;
    Box& added = boxes[boxCount++];
    added.first = static_cast<uint32_t>(k + 1);
    added.last = box.last;
    box.last = static_cast<uint32_t>(k);
    measureBox(colours, box);
    measureBox(colours, added);
  }
  for (int i = 0; i < paletteSize; ++i) palette[i] = boxes[i].colour;
  return true;
}

void setDepthConversion(DepthConverter& c, int32_t sourceBits, int32_t targetBits) {
  if (c.width < 0) c.width = 0;
  if (c.height < 0) c.height = 0;
  c.sourceBits = sourceBits;
  c.targetBits = targetBits;
  const uint64_t w = static_cast<uint64_t>(c.width);
  uint64_t rowBytes = 0;
  switch (targetBits) {
    case 1: rowBytes = (w + 7) / 8; break;
    case 2: rowBytes = (w + 3) / 4; break;
    case 4: rowBytes = (w + 1) / 2; break;
    case 8: rowBytes = w; break;
    case 24: rowBytes = w >= 1431655766 ? 0 : 3 * w; break;
    case 32: rowBytes = 4 * w >= kMaxBlockSize ? 0 : 4 * w; break;
    case 48: rowBytes = 6 * w >= kMaxBlockSize ? 0 : 6 * w; break;
    default: rowBytes = 0; break;
  }
  // Row sizes of 2^31 bytes or more cannot be held in the 32-bit fields.
  if (rowBytes > INT32_MAX - 3) rowBytes = 0;
  c.targetRowBytes = static_cast<int32_t>(rowBytes);
  const uint64_t stride =
      (targetBits == 32 || targetBits == 48) ? rowBytes : (rowBytes + 3) & ~uint64_t{3};
  c.targetStride = static_cast<int32_t>(stride);
  const uint64_t size = checkedBlockSize(static_cast<int64_t>(stride), c.height);
  c.targetImageSize = size >= kMaxBlockSize ? 0 : static_cast<uint32_t>(size);
}

bool convertDepth(DepthConverter& c, const RgbQuad* sourcePalette, const uint8_t* sourcePixels,
                  RgbQuad* targetPalette, uint8_t* targetPixels) {
  if (c.targetImageSize == 0 || !sourcePixels || !targetPixels) return false;
  const int s = c.sourceBits, t = c.targetBits;
  const IndexTarget packed{targetPixels, c.targetStride, t, true};
  if (s == 8 || s == 24) {
    if (t == 1) return reduceBlackWhite(c, sourcePalette, sourcePixels, targetPalette, packed);
    if (t == 2 || t == 4 || (t == 8 && s == 24))
      return reduceIndexed(c, sourcePalette, sourcePixels, targetPalette, packed);
  }
  if ((s == 1 || s == 2 || s == 4) && t == 8) {
    if (s != 2) std::memcpy(targetPalette, sourcePalette, sizeof(RgbQuad) << s);
    unpackIndices(c, sourcePixels, targetPixels, c.targetStride);
    return true;
  }
  if ((s == 1 || s == 4 || s == 8) && t == 24) {
    expandThroughPalette(c, sourcePalette, sourcePixels, targetPixels);
    return true;
  }
  if (s == 8 && t == 8) {
    std::memcpy(targetPalette, sourcePalette, sizeof(RgbQuad) * 256);
    std::memcpy(targetPixels, sourcePixels, c.targetImageSize);
    return true;
  }
  if (s == 24 && t == 24) {
    std::memcpy(targetPixels, sourcePixels, c.targetImageSize);
    return true;
  }
  if (s == 24 && t == 48) {
    for (int32_t y = 0; y < c.height; ++y) {
      const uint8_t* in = sourcePixels + y * sourceStride(c);
      uint8_t* out = targetPixels + static_cast<int64_t>(y) * c.targetStride;
      for (int64_t i = 0; i < 3 * static_cast<int64_t>(c.width); ++i) out[2 * i + 1] = in[i];
    }
    return true;
  }
  if (s == 48 && t == 24) {
    // The same sample layout as 24 to 48: the high byte of each sample is its second byte.
    for (int32_t y = 0; y < c.height; ++y) {
      const uint8_t* in = sourcePixels + y * (6 * static_cast<int64_t>(c.width));
      uint8_t* out = targetPixels + static_cast<int64_t>(y) * c.targetStride;
      for (int64_t i = 0; i < 3 * static_cast<int64_t>(c.width); ++i) out[i] = in[2 * i + 1];
    }
    return true;
  }
  return false;
}

bool convertToIndexBytes(DepthConverter& c, const RgbQuad* sourcePalette,
                         const uint8_t* sourcePixels, RgbQuad* targetPalette,
                         uint8_t* targetIndices) {
  if (!sourcePixels || !targetIndices) return false;
  const IndexTarget bytes{targetIndices, c.width, 8, false};
  if (c.targetBits == 1)
    return reduceBlackWhite(c, sourcePalette, sourcePixels, targetPalette, bytes);
  if (c.targetBits >= 2 && c.targetBits <= 8)
    return reduceIndexed(c, sourcePalette, sourcePixels, targetPalette, bytes);
  return false;
}

namespace {
// Each product rounded half up on its own, so the sum never exceeds 255.
inline uint8_t greyOf(uint8_t blue, uint8_t green, uint8_t red) {
  return static_cast<uint8_t>((114 * blue + 500) / 1000 + (299 * red + 500) / 1000 +
                              (587 * green + 500) / 1000);
}
}  // namespace

void greyFromIndexed(const DepthConverter& c, const RgbQuad* palette, const uint8_t* source,
                     uint8_t* target) {
  uint8_t grey[256];
  for (int i = 0; i < 256; ++i) grey[i] = greyOf(palette[i].blue, palette[i].green, palette[i].red);
  for (int32_t y = 0; y < c.height; ++y) {
    const uint8_t* in = source + y * sourceStride(c);
    uint8_t* out = target + static_cast<int64_t>(y) * c.width;
    for (int32_t x = 0; x < c.width; ++x) out[x] = grey[in[x]];
  }
}

void greyFromTrueColour(const DepthConverter& c, const uint8_t* source, uint8_t* target) {
  for (int32_t y = 0; y < c.height; ++y) {
    const uint8_t* in = source + y * sourceStride(c);
    uint8_t* out = target + static_cast<int64_t>(y) * c.width;
    for (int32_t x = 0; x < c.width; ++x) out[x] = greyOf(in[3 * x], in[3 * x + 1], in[3 * x + 2]);
  }
}

bool convertToGrey(DepthConverter& c, const RgbQuad* sourcePalette, const uint8_t* sourcePixels,
                   uint8_t* targetGrey) {
  if (c.targetBits != 8) return false;
  if (c.sourceBits == 8) greyFromIndexed(c, sourcePalette, sourcePixels, targetGrey);
  else if (c.sourceBits == 24) greyFromTrueColour(c, sourcePixels, targetGrey);
  else return false;
  return true;
}

}  // namespace velorin
