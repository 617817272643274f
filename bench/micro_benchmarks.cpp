// Micro-benchmarks of the steps of a refresh, at 1080p and 4K: decoding the month
// picture into the DIB, framing today's cell, marking the month's days, writing wp.bmp,
// making a monitor's picture of another shape.
//
//   zorvani-micro-benchmarks [--benchmark_filter=...] [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "days/days.h"
#include "dib/cDIBSection.h"
#include "general/general.h"
#include "platform/picture.h"
#include "screens/screens.h"
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

// A month with a holiday and an event on every day, in the default grid.
void DrawDayMarks(benchmark::State& state) {
  zorvani::cDIBSection dib;
  dib.Create(static_cast<std::int32_t>(state.range(0)), static_cast<std::int32_t>(state.range(1)));
  zorvani::Config = {0.115, 0.095, 0.125, 0.11, 0.0675, 0.30, 0.004, 200, 40, 60, 1};
  zorvani::days::MonthMarks marks;
  for (zorvani::days::DayMark& mark : marks.day) mark = {true, true, {220, 30, 30}, {30, 90, 220}};
  marks.any = true;
  for (auto _ : state) {
    zorvani::DrawDayMarks(dib, 2004, 8, marks);
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

// A monitor of another shape: the picture fitted into the portrait monitor of its size
// turned, the bars filled, every row made in the order a bitmap file takes them.
void MonitorPicture(benchmark::State& state) {
  const auto width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  std::vector<std::uint8_t> picture(screens::DibRowBytes(width) * static_cast<std::size_t>(height), 0x80);
  const screens::ConstPixels source = screens::DibView(picture.data(), width, height);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(height) * 3);
  for (auto _ : state) {
    screens::FittedRows rows(source, height, width);
    for (int y = width - 1; y >= 0; --y) rows.Row(y, row.data());
    benchmark::DoNotOptimize(row[0]);
  }
  SetPixels(state, height, width);
}

// What the calendar sources add to a refresh: range(0) files of 1,000 events each, a
// third of them weekly rules, read and expanded for one month.
void MarkedDays(benchmark::State& state) {
  std::vector<zorvani::days::Source> sources;
  for (int file = 0; file < state.range(0); ++file) {
    std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//EN\r\n";
    for (int i = 0; i < 1000; ++i) {
      char event[256];
      std::snprintf(event, sizeof event,
                    "BEGIN:VEVENT\r\nUID:%d-%d\r\nDTSTART;TZID=Europe/Berlin:2004%02d%02dT%02d3000\r\n"
                    "DTEND;TZID=Europe/Berlin:2004%02d%02dT%02d4500\r\nSUMMARY:Event %d\r\n%sEND:VEVENT\r\n",
                    file, i, i % 12 + 1, i % 28 + 1, i % 24, i % 12 + 1, i % 28 + 1, i % 24, i,
                    i % 3 == 0 ? "RRULE:FREQ=WEEKLY;UNTIL=20041231T000000Z\r\n" : "");
      text += event;
    }
    text += "END:VCALENDAR\r\n";
    const std::string path = Files().Path(file, 1000, ".ics");
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr || std::fwrite(text.data(), 1, text.size(), out) != text.size()) state.SkipWithError("cannot write");
    if (out != nullptr) std::fclose(out);
    sources.push_back({zorvani::days::Kind::Event, std::nullopt, path});
  }
  for (auto _ : state) benchmark::DoNotOptimize(zorvani::days::MarkedDays(sources, 2004, 8));
}

#define SIZES ->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond)
BENCHMARK(DecodeAndBlit) SIZES;
BENCHMARK(DrawRectPerc) SIZES->Unit(benchmark::kMicrosecond);
BENCHMARK(DrawDayMarks) SIZES->Unit(benchmark::kMicrosecond);
BENCHMARK(SavePicture) SIZES;
BENCHMARK(MonitorPicture) SIZES;
BENCHMARK(MarkedDays)->Arg(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
