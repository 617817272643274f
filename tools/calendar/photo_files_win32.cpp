// Photo decoding and JPEG encoding with GDI+, which every Windows has.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <shlwapi.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "tools/calendar/gdiplus_session.h"
#include "tools/calendar/photo_files.h"

namespace zorvani {
namespace tools {
namespace {

struct StreamReleaser {
  void operator()(IStream* stream) const { stream->Release(); }
};
using Stream = std::unique_ptr<IStream, StreamReleaser>;

// Drawn onto white first: transparent parts look as a viewer shows them, and every
// source format ends up as 24-bit BGR.
RgbImage ToRgb(Gdiplus::Bitmap& source, const std::string& name) {
  if (source.GetLastStatus() != Gdiplus::Ok) throw std::runtime_error(name + ": not a JPEG or PNG picture");
  const UINT width = source.GetWidth(), height = source.GetHeight();
  if (!PhotoSizeAllowed(width, height)) {
    throw std::runtime_error(name + ": picture too large or empty");
  }
  Gdiplus::Bitmap target(static_cast<INT>(width), static_cast<INT>(height), PixelFormat24bppRGB);
  if (target.GetLastStatus() != Gdiplus::Ok) throw std::runtime_error(name + ": no memory for the picture");
  {
    Gdiplus::Graphics graphics(&target);
    graphics.Clear(Gdiplus::Color(255, 255, 255, 255));
    graphics.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
    graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    if (graphics.DrawImage(&source, 0, 0, static_cast<INT>(width), static_cast<INT>(height)) != Gdiplus::Ok) {
      throw std::runtime_error(name + ": cannot be decoded");
    }
  }
  Gdiplus::Rect all(0, 0, static_cast<INT>(width), static_cast<INT>(height));
  Gdiplus::BitmapData data;
  if (target.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat24bppRGB, &data) != Gdiplus::Ok) {
    throw std::runtime_error(name + ": cannot be decoded");
  }
  RgbImage image{static_cast<int>(width), static_cast<int>(height),
                 std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
  for (UINT y = 0; y < height; ++y) {
    const BYTE* row = static_cast<const BYTE*>(data.Scan0) + static_cast<std::ptrdiff_t>(y) * data.Stride;
    std::uint8_t* out = &image.pixels[static_cast<std::size_t>(y) * width * 3];
    for (UINT x = 0; x < width; ++x) {
      out[3 * x] = row[3 * x + 2];
      out[3 * x + 1] = row[3 * x + 1];
      out[3 * x + 2] = row[3 * x];
    }
  }
  target.UnlockBits(&data);
  return image;
}

CLSID JpegEncoder() {
  UINT count = 0, size = 0;
  Gdiplus::GetImageEncodersSize(&count, &size);
  std::vector<BYTE> buffer(size);
  auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (size == 0 || Gdiplus::GetImageEncoders(count, size, encoders) != Gdiplus::Ok) {
    throw std::runtime_error("GDI+: no image encoders");
  }
  for (UINT i = 0; i < count; ++i) {
    if (std::wstring(encoders[i].MimeType) == L"image/jpeg") return encoders[i].Clsid;
  }
  throw std::runtime_error("GDI+: no JPEG encoder");
}

}  // namespace

RgbImage ReadPhoto(const std::string& path, int, int) {
  // GDI+ takes whatever size a header claims and decodes a file cut short without a
  // word: both are read from the file first.
  const PhotoHeader header = ReadPhotoHeader(path);
  if (header.width <= 0 || header.height <= 0) throw std::runtime_error(path + ": not a JPEG or PNG picture");
  if (!PhotoSizeAllowed(header.width, header.height)) {
    throw std::runtime_error(path + ": " + std::to_string(header.width) + "x" + std::to_string(header.height) +
                             " is too large a photo (at most 108 megapixels and 65500 pixels a side)");
  }
  if (!header.complete) throw std::runtime_error(path + ": damaged picture (the file ends early)");
  GdiplusSession::Start();
  const int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], length);
  Gdiplus::Bitmap bitmap(wide.c_str());
  return Oriented(ToRgb(bitmap, path), ExifOrientationOfFile(path));
}

RgbImage DecodeJpeg(const std::vector<std::uint8_t>& jpeg) {
  GdiplusSession::Start();
  Stream stream(SHCreateMemStream(jpeg.data(), static_cast<UINT>(jpeg.size())));
  if (!stream) throw std::runtime_error("JPEG: out of memory");
  Gdiplus::Bitmap bitmap(stream.get());
  return ToRgb(bitmap, "JPEG");
}

std::vector<std::uint8_t> EncodeJpeg(const RgbImage& image, int quality) {
  if (quality < 1 || quality > 100) throw std::invalid_argument("quality must be 1 to 100");
  GdiplusSession::Start();
  Gdiplus::Bitmap bitmap(image.width, image.height, PixelFormat24bppRGB);
  Gdiplus::Rect all(0, 0, image.width, image.height);
  Gdiplus::BitmapData data;
  if (bitmap.LockBits(&all, Gdiplus::ImageLockModeWrite, PixelFormat24bppRGB, &data) != Gdiplus::Ok) {
    throw std::runtime_error("GDI+: no bitmap");
  }
  for (int y = 0; y < image.height; ++y) {
    BYTE* row = static_cast<BYTE*>(data.Scan0) + static_cast<std::ptrdiff_t>(y) * data.Stride;
    const std::uint8_t* in = &image.pixels[static_cast<std::size_t>(y) * image.width * 3];
    for (int x = 0; x < image.width; ++x) {
      row[3 * x] = in[3 * x + 2];
      row[3 * x + 1] = in[3 * x + 1];
      row[3 * x + 2] = in[3 * x];
    }
  }
  bitmap.UnlockBits(&data);

  Gdiplus::EncoderParameters parameters;
  ULONG level = static_cast<ULONG>(quality);
  parameters.Count = 1;
  parameters.Parameter[0].Guid = Gdiplus::EncoderQuality;
  parameters.Parameter[0].Type = Gdiplus::EncoderParameterValueTypeLong;
  parameters.Parameter[0].NumberOfValues = 1;
  parameters.Parameter[0].Value = &level;
  Stream stream(SHCreateMemStream(nullptr, 0));
  const CLSID encoder = JpegEncoder();
  if (!stream || bitmap.Save(stream.get(), &encoder, &parameters) != Gdiplus::Ok) {
    throw std::runtime_error("GDI+: cannot encode JPEG");
  }
  STATSTG stat{};
  LARGE_INTEGER start{};
  if (stream->Stat(&stat, STATFLAG_NONAME) != S_OK || stream->Seek(start, STREAM_SEEK_SET, nullptr) != S_OK) {
    throw std::runtime_error("GDI+: cannot encode JPEG");
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stat.cbSize.QuadPart));
  ULONG read = 0;
  if (stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read) != S_OK || read != bytes.size()) {
    throw std::runtime_error("GDI+: cannot encode JPEG");
  }
  return bytes;
}

}  // namespace tools
}  // namespace zorvani
