// Micro-benchmarks of the three steps of a refresh, at 1080p and 4K: decoding the
// month picture into the DIB, framing today's cell, writing wp.bmp.
//
//   zorvani-micro-benchmarks [--benchmark_filter=...] [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "dib/cDIBSection.h"
#include "platform/picture.h"
#include "tools/calendar/month_picture.h"

namespace {

namespace fs = std::filesystem;

// Month pictures of both sizes, made once in a folder of their own.
class Pictures {
 public:
  Pictures() : folder_(fs::temp_directory_path() / ("zorvani-bench-" + std::to_string(::getpid()))) {
    fs::create_directories(folder_);
  }
  ~Pictures() { fs::remove_all(folder_); }
  std::string Jpeg(int width, int height) {
    const std::string path = Path(width, height, ".jpg");
    if (!fs::exists(path)) {
      zorvani::tools::MonthPictureSettings settings;
      settings.year = 2004;
      settings.month = 8;
      settings.width = width;
      settings.height = height;
      zorvani::tools::WriteMonthPicture(settings, 92, path);
    }
    return path;
  }
  std::string Path(int width, int height, const char* suffix) const {
    return (folder_ / (std::to_string(width) + "x" + std::to_string(height) + suffix)).string();
  }

 private:
  fs::path folder_;
};

Pictures& Files() {
  static Pictures pictures;
  return pictures;
}

void SetPixels(benchmark::State& state, std::int64_t width, std::int64_t height) {
  state.SetBytesProcessed(state.iterations() * ((width * 3 + 3) & ~3) * height);
}

void DecodeAndBlit(benchmark::State& state) {
  const auto width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const std::string jpeg = Files().Jpeg(width, height);
  for (auto _ : state) {
    const auto picture = platform::SystemPictureLoader().LoadPicture(jpeg);
    zorvani::cDIBSection dib;
    dib.CreateFromPicture(*picture);
    benchmark::DoNotOptimize(dib.DIBSectionBitsPtr()[0]);
  }
  SetPixels(state, width, height);
}

void DrawRectPerc(benchmark::State& state) {
  zorvani::cDIBSection dib;
  dib.Create(static_cast<std::int32_t>(state.range(0)), static_cast<std::int32_t>(state.range(1)));
  for (auto _ : state) {
    // The cell of 18 August 2004 with the default grid.
    dib.drawRectPerc(0.0675 + 0.125 * 2, 0.30 + 0.11 * 2, 0.115, 0.095, 0.004, 200, 40, 60);
    benchmark::ClobberMemory();
  }
}

void SavePicture(benchmark::State& state) {
  const auto width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  zorvani::cDIBSection dib;
  dib.Create(width, height);
  std::memset(dib.DIBSectionBitsPtr(), 0x80, dib.BitmapInfo().biSizeImage);
  const std::string target = Files().Path(width, height, ".bmp");
  for (auto _ : state) {
    if (dib.SavePicture(target) == zorvani::kFalse) state.SkipWithError("the bitmap could not be written");
  }
  SetPixels(state, width, height);
}

#define SIZES ->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond)
BENCHMARK(DecodeAndBlit) SIZES;
BENCHMARK(DrawRectPerc) SIZES->Unit(benchmark::kMicrosecond);
BENCHMARK(SavePicture) SIZES;

}  // namespace

BENCHMARK_MAIN();
