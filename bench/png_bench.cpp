// PNG codec speed on a 12-megapixel RGB image, against libpng on the same file.
//
// The image is VELORIN_BENCH_PNG when set (any 8-bit RGB PNG, e.g. a photo), otherwise a
// generated 4000 x 3000 picture of smooth gradients with mild noise, written by our own writer.
#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "formats/png_reader.h"
#include "formats/png_writer.h"

namespace {

namespace fs = std::filesystem;

velorin::ImageRecord syntheticPhoto() {
  velorin::ImageRecord record;
  record.allocatePixels(4000, 3000, 24);
  std::mt19937 random(1);
  const uint64_t stride = velorin::paddedStride(4000, 24);
  for (int y = 0; y < 3000; ++y) {
    uint8_t* row = record.pixels.data() + y * stride;
    for (int x = 0; x < 4000; ++x) {
      const int noise = static_cast<int>(random() % 7) - 3;
      row[3 * x] = static_cast<uint8_t>(std::clamp((x * 255) / 4000 + noise, 0, 255));
      row[3 * x + 1] = static_cast<uint8_t>(std::clamp((y * 255) / 3000 + noise, 0, 255));
      row[3 * x + 2] = static_cast<uint8_t>(std::clamp(((x + y) * 128) / 7000 + 60 + noise, 0, 255));
    }
  }
  return record;
}

const std::vector<uint8_t>& benchFile() {
  static const std::vector<uint8_t> bytes = [] {
    fs::path path;
    if (const char* given = std::getenv("VELORIN_BENCH_PNG")) {
      path = given;
    } else {
      path = fs::temp_directory_path() / "velorin-bench-input.png";
      const velorin::ImageRecord image = syntheticPhoto();
      velorin::PngWriter writer;
      writer.converter.width = 4000;
      writer.converter.height = 3000;
      velorin::setDepthConversion(writer.converter, 24, 24);
      velorin::writePng(writer, path, image.palette, image.pixels.data());
    }
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }();
  return bytes;
}

void BM_DecodePngVelorin(benchmark::State& state) {
  const auto& file = benchFile();
  velorin::PngReader reader;
  velorin::ImageRecord record;
  for (auto _ : state) {
    if (!velorin::readPngMemory(reader, file.data(), file.size(), record)) state.SkipWithError("decode");
    benchmark::DoNotOptimize(record.pixels.data());
  }
}
BENCHMARK(BM_DecodePngVelorin)->Unit(benchmark::kMillisecond);

// libpng with the same work: 16-bit stripping, palette expansion, into one RGB block.
void BM_DecodePngLibpng(benchmark::State& state) {
  const auto& file = benchFile();
  for (auto _ : state) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
      state.SkipWithError("libpng");
      break;
    }
    image.format = PNG_FORMAT_BGR;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr);
    benchmark::DoNotOptimize(pixels.data());
  }
}
BENCHMARK(BM_DecodePngLibpng)->Unit(benchmark::kMillisecond);

// Levels 1, 6 and 9; the counter is the file size.
void BM_EncodePng(benchmark::State& state) {
  const auto& file = benchFile();
  velorin::PngReader reader;
  velorin::ImageRecord record;
  velorin::readPngMemory(reader, file.data(), file.size(), record);
  velorin::PngWriter writer;
  writer.converter.width = record.header.biWidth;
  writer.converter.height = record.header.biHeight;
  velorin::setDepthConversion(writer.converter, record.header.biBitCount, record.header.biBitCount);
  writer.level = static_cast<int>(state.range(0));
  const auto path = fs::temp_directory_path() / "velorin-bench-output.png";
  for (auto _ : state) velorin::writePng(writer, path, record.palette, record.pixels.data());
  state.counters["bytes"] = static_cast<double>(fs::file_size(path));
  fs::remove(path);
}
BENCHMARK(BM_EncodePng)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);

}  // namespace
