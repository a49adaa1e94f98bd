// Colour reduction speed on a 12-megapixel photo-like image: smooth shading plus sensor-like
// noise, so that it holds about as many distinct colours as a real photo.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "imaging/depth_converter.h"

namespace {

constexpr int32_t kWidth = 4000;
constexpr int32_t kHeight = 3000;

const std::vector<uint8_t>& photoLike() {
  static const std::vector<uint8_t> pixels = [] {
    const uint64_t stride = velorin::paddedStride(kWidth, 24);
    std::vector<uint8_t> p(stride * kHeight + 4);
    std::mt19937 random(42);
    std::normal_distribution<float> noise(0.0f, 3.0f);
    for (int32_t y = 0; y < kHeight; ++y)
      for (int32_t x = 0; x < kWidth; ++x) {
        const float u = x / float(kWidth), v = y / float(kHeight);
        const float base[3] = {
            90 + 80 * std::sin(3 * u + 2 * v) + 40 * std::cos(9 * u * v),
            110 + 70 * std::sin(2 * u - 4 * v + 1) + 30 * std::sin(11 * v),
            120 + 90 * std::cos(5 * u + v) * std::sin(3 * v + 0.5f)};
        for (int c = 0; c < 3; ++c)
          p[y * stride + 3 * x + c] =
              static_cast<uint8_t>(std::clamp(base[c] + noise(random), 0.0f, 255.0f));
      }
    return p;
  }();
  return pixels;
}

void BM_ReduceTo256(benchmark::State& state) {
  const auto& pixels = photoLike();
  velorin::DepthConverter converter;
  converter.width = kWidth;
  converter.height = kHeight;
  velorin::setDepthConversion(converter, 24, 8);
  converter.dither = state.range(0) != 0;
  std::vector<uint8_t> target(converter.targetImageSize + 4);
  velorin::RgbQuad palette[256] = {};
  for (auto _ : state) {
    if (!velorin::convertDepth(converter, nullptr, pixels.data(), palette, target.data()))
      state.SkipWithError("conversion failed");
    benchmark::DoNotOptimize(target.data());
  }
  state.counters["MP/s"] = benchmark::Counter(
      static_cast<double>(kWidth) * kHeight / 1e6 * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReduceTo256)->ArgName("dither")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_ReduceToBlackWhite(benchmark::State& state) {
  const auto& pixels = photoLike();
  velorin::DepthConverter converter;
  converter.width = kWidth;
  converter.height = kHeight;
  velorin::setDepthConversion(converter, 24, 1);
  converter.dither = true;
  std::vector<uint8_t> target(converter.targetImageSize + 4);
  velorin::RgbQuad palette[256] = {};
  for (auto _ : state) {
    velorin::convertDepth(converter, nullptr, pixels.data(), palette, target.data());
    benchmark::DoNotOptimize(target.data());
  }
  state.counters["MP/s"] = benchmark::Counter(
      static_cast<double>(kWidth) * kHeight / 1e6 * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReduceToBlackWhite)->Unit(benchmark::kMillisecond);

}  // namespace
