// Speed of the GIF codec on a 12-megapixel 8-bit image: the whole writer (depth conversion,
// LZW, file), the LZW encoder alone, and the reader. Rates are in megapixels per second.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <vector>

#include "formats/gif_reader.h"
#include "formats/gif_writer.h"

namespace {

constexpr int32_t kWidth = 4000;
constexpr int32_t kHeight = 3000;

// Photo-like indices: smooth ramps with some noise (range 0), or pure noise (range 1).
std::vector<uint8_t> indexRows(int kind) {
  const size_t stride = velorin::paddedStride(kWidth, 8);
  std::vector<uint8_t> rows(stride * kHeight);
  uint32_t noise = 12345;
  for (int32_t y = 0; y < kHeight; ++y)
    for (int32_t x = 0; x < kWidth; ++x) {
      noise = noise * 1103515245 + 12345;
      const uint32_t n = noise >> 16;
      rows[y * stride + x] = static_cast<uint8_t>(kind == 0 ? (x / 40 + y / 30 + (n & 3)) : n);
    }
  return rows;
}

void setRate(benchmark::State& state) {
  state.counters["MP/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kWidth *
                                                  kHeight / 1e6,
                                              benchmark::Counter::kIsRate);
}

void BM_WriteGif(benchmark::State& state) {
  const auto rows = indexRows(static_cast<int>(state.range(0)));
  velorin::RgbQuad palette[256];
  for (int i = 0; i < 256; ++i) palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), 7, 0};
  velorin::GifWriter writer;
  const auto path = std::filesystem::temp_directory_path() / "velorin-bench.gif";
  for (auto _ : state) {
    writer.converter.width = kWidth;
    writer.converter.height = kHeight;
    velorin::setDepthConversion(writer.converter, 8, 8);
    if (!velorin::writeGif(writer, path, palette, rows.data())) state.SkipWithError("write");
  }
  std::filesystem::remove(path);
  setRate(state);
}
BENCHMARK(BM_WriteGif)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_EncodeGifLzw(benchmark::State& state) {
  const auto rows = indexRows(static_cast<int>(state.range(0)));
  std::vector<uint8_t> codes(velorin::gifLzwBound(rows.size()));
  for (auto _ : state)
    benchmark::DoNotOptimize(velorin::encodeGifLzw(rows.data(), size_t{kWidth} * kHeight, 8, codes.data()));
  setRate(state);
}
BENCHMARK(BM_EncodeGifLzw)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ReadGif(benchmark::State& state) {
  const auto rows = indexRows(static_cast<int>(state.range(0)));
  velorin::RgbQuad palette[256] = {};
  for (int i = 0; i < 256; ++i) palette[i].red = static_cast<uint8_t>(i);
  velorin::GifWriter writer;
  writer.converter.width = kWidth;
  writer.converter.height = kHeight;
  velorin::setDepthConversion(writer.converter, 8, 8);
  const auto path = std::filesystem::temp_directory_path() / "velorin-bench-read.gif";
  velorin::writeGif(writer, path, palette, rows.data());
  velorin::GifReader reader;
  velorin::ImageRecord record;
  for (auto _ : state) {
    if (!velorin::readGifFile(reader, path, record)) state.SkipWithError("read");
    benchmark::DoNotOptimize(record.pixels.data());
  }
  std::filesystem::remove(path);
  setRate(state);
}
BENCHMARK(BM_ReadGif)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
