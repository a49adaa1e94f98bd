// Decoding and encoding speed of the BMP codec on a 12-megapixel photo-sized image.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "formats/bmp_reader.h"
#include "formats/bmp_writer.h"

namespace {

std::vector<uint8_t> bigBitmap(int32_t width, int32_t height, int bits) {
  const uint32_t stride = static_cast<uint32_t>(velorin::paddedStride(width, bits));
  const uint32_t palette = bits == 8 ? 1024 : 0;
  std::vector<uint8_t> file(54 + palette + static_cast<size_t>(stride) * height);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  file[0] = 'B', file[1] = 'M';
  put32(10, 54 + palette);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(width));
  put32(22, static_cast<uint32_t>(height));
  file[26] = 1;
  file[28] = static_cast<uint8_t>(bits);
  for (size_t i = 54 + palette; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 31);
  return file;
}

void BM_DecodeBmp(benchmark::State& state) {
  const int bits = static_cast<int>(state.range(0));
  const auto file = bigBitmap(4000, 3000, bits);
  velorin::BmpReader reader;
  velorin::ImageRecord record;
  for (auto _ : state) {
    if (!velorin::readBmpMemory(reader, file.data(), file.size(), record)) state.SkipWithError("decode");
    benchmark::DoNotOptimize(record.pixels.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.size()));
}
BENCHMARK(BM_DecodeBmp)->Arg(1)->Arg(8)->Arg(16)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond);

void BM_EncodeBmp24(benchmark::State& state) {
  const auto file = bigBitmap(4000, 3000, 24);
  velorin::BmpReader reader;
  velorin::ImageRecord record;
  velorin::readBmpMemory(reader, file.data(), file.size(), record);
  velorin::BmpWriter writer;
  writer.converter.width = 4000;
  writer.converter.height = 3000;
  velorin::setDepthConversion(writer.converter, 24, 24);
  const auto path = std::filesystem::temp_directory_path() / "velorin-bench.bmp";
  for (auto _ : state) velorin::writeBmp(writer, path, record.palette, record.pixels.data());
  std::filesystem::remove(path);
}
BENCHMARK(BM_EncodeBmp24)->Unit(benchmark::kMillisecond);

}  // namespace
