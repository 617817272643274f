#pragma once
// Helpers shared by the image class's tests: a picture around a bare bitmap, byte
// access in picture lines, and files read back whole.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dib/cDIBSection.h"
#include "fakes/counting_gdi.h"
#include "fakes/faulty_files.h"

namespace dibtest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Memory(const zorvani::cDIBSection& dib) {
  const std::uint8_t* p = dib.DIBSectionBitsPtr();
  return Bytes(p, p + dib.BitmapInfo().biSizeImage);
}

// First byte of the pixel in column x of picture line y (0 is the top).
inline std::uint8_t* At(const zorvani::cDIBSection& dib, int x, int y) {
  return dib.DIBSectionBitsPtr() + (dib.height() - 1 - y) * dib.BytesPerScanLine() + 3 * x;
}

inline Bytes ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::filesystem::path& p, const Bytes& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A picture whose bitmap is a bare DIB section, selected nowhere, as a loader gives it.
class BitmapPicture : public platform::Picture {
 public:
  BitmapPicture(platform::Gdi& gdi, std::int32_t w, std::int32_t h) : gdi_(gdi), w_(w), h_(h) {
    zorvani::tBitmapInfo info{};
    info.biSize = 40;
    info.biWidth = w;
    info.biHeight = h;
    info.biPlanes = 1;
    info.biBitCount = 24;
    void* bits = nullptr;
    bitmap_ = gdi.CreateDIBSection(0, &info, 0, &bits);
    bits_ = static_cast<std::uint8_t*>(bits);
  }
  ~BitmapPicture() override { gdi_.DeleteObject(bitmap_); }
  platform::Handle BitmapHandle() const override { return bitmap_; }
  std::int32_t Width() const override { return w_; }
  std::int32_t Height() const override { return h_; }
  std::uint8_t* bits() const { return bits_; }

 private:
  platform::Gdi& gdi_;
  std::int32_t w_, h_;
  platform::Handle bitmap_ = 0;
  std::uint8_t* bits_ = nullptr;
};

// Fresh handle counters and fault switches for each test.
class DibTest : public ::testing::Test {
 protected:
  fakes::CountingGdi gdi;
  fakes::FaultyFiles files;
};

}  // namespace dibtest
