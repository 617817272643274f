#pragma once
// The picture loader: decodes an image file (the month pictures are JPEGs) into a
// picture that holds a bitmap of the platform's GDI (the real one or the stand-in).
#include <cstdint>
#include <memory>
#include <string>

#include "platform/handle.h"

namespace platform {

class Picture {
 public:
  virtual ~Picture() = default;
  // The bitmap handle, usable with SystemGdi().
  virtual Handle BitmapHandle() const = 0;
  virtual std::int32_t Width() const = 0;
  virtual std::int32_t Height() const = 0;
};

class PictureLoader {
 public:
  virtual ~PictureLoader() = default;
  // Raises a run-time error for a missing, unreadable or undecodable file.
  virtual std::unique_ptr<Picture> LoadPicture(const std::string& fileName) = 0;
};

PictureLoader& SystemPictureLoader();

}  // namespace platform
