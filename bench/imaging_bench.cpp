// Micro-benchmarks of the processing steps on photograph-sized images. Items are source pixels,
// so the reported rate is megapixels of source per second.
#include <benchmark/benchmark.h>

#include <random>

#include "imaging/processing.h"
#include "imaging/resample.h"
#include "imaging/rotate.h"
#include "imaging/tone.h"
#include "imaging/unsharp.h"

namespace velorin {
namespace {

// A smooth gradient with some noise, closer to a photograph than pure noise.
WorkingImage photoLike(int32_t width, int32_t height) {
  WorkingImage image;
  if (image.allocatePixels(width, height, 24) != Status::Ok) return image;
  image.takeWorkingValuesFromHeader();
  std::minstd_rand random(1);
  const uint64_t stride = image.workStride();
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = image.pixels.data() + y * stride;
    for (int32_t x = 0; x < width; ++x) {
      const int noise = static_cast<int>(random() % 9) - 4;
      row[3 * x] = static_cast<uint8_t>(std::clamp(x * 255 / width + noise, 0, 255));
      row[3 * x + 1] = static_cast<uint8_t>(std::clamp(y * 255 / height + noise, 0, 255));
      row[3 * x + 2] = static_cast<uint8_t>(std::clamp((x + y) * 127 / (width + height) + 64 + noise, 0, 255));
    }
  }
  return image;
}

// A 12 MP photograph reduced to 1600 x 1200, and to a size whose ratio is not a round number.
void BM_Reduce4000x3000(benchmark::State& state) {
  const auto width = static_cast<int32_t>(state.range(0)), height = static_cast<int32_t>(state.range(1));
  const WorkingImage source = photoLike(4000, 3000);
  PixelBuffer destination;
  destination.allocate(paddedStride(width, 24) * height);
  for (auto _ : state) {
    Resampler rs{4000, 3000, source.pixels.data(), destination.data()};
    benchmark::DoNotOptimize(resample(rs, width, height));
  }
  state.SetItemsProcessed(state.iterations() * 4000 * 3000);
}
BENCHMARK(BM_Reduce4000x3000)->Args({1600, 1200})->Args({1597, 1198})->Unit(benchmark::kMillisecond);

void BM_Sharpen1600x1200(benchmark::State& state) {
  UnsharpTables tables;
  buildUnsharpTables(tables);
  WorkingImage image = photoLike(1600, 1200);
  for (auto _ : state) {
    benchmark::DoNotOptimize(unsharpMask(image, tables, 4));
  }
  state.SetItemsProcessed(state.iterations() * 1600 * 1200);
}
BENCHMARK(BM_Sharpen1600x1200)->Unit(benchmark::kMillisecond);

void BM_Hls12Megapixels(benchmark::State& state) {
  ToneTables tables;
  buildHlsTables(tables.hls);
  WorkingImage image = photoLike(4000, 3000);
  ToneTarget target = toneTargetOf(image);
  for (auto _ : state) {
    applyHls(target, tables, 15, 20);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 4000 * 3000);
}
BENCHMARK(BM_Hls12Megapixels)->Unit(benchmark::kMillisecond);

void BM_Rotate12Megapixels(benchmark::State& state) {
  WorkingImage image = photoLike(4000, 3000);
  for (auto _ : state) {
    benchmark::DoNotOptimize(rotateWorkingImage(image, static_cast<RotationKind>(state.range(0))));
  }
  state.SetItemsProcessed(state.iterations() * 4000 * 3000);
}
BENCHMARK(BM_Rotate12Megapixels)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velorin
