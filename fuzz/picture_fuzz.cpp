// A month picture of any bytes: loading it, framing a cell and saving the bitmap either works
// or ends in a run-time error. Goes only through the picture loader and the image class.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "dib/cDIBSection.h"
#include "platform/services.h"
#include "runtime/runtime_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string folder = "/tmp/zorvani-fuzz-" + std::to_string(getpid());
  static const std::string picture = folder + ".jpg", bitmap = folder + ".bmp";
  static const int removeAtExit = std::atexit([] { std::remove(picture.c_str()), std::remove(bitmap.c_str()); });
  (void)removeAtExit;
  std::ofstream(picture, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                    static_cast<std::streamsize>(size));
  try {
    const auto loaded = platform::Current().pictures->LoadPicture(picture);
    zorvani::cDIBSection image;
    image.CreateFromPicture(*loaded);
    // A cell near the far corner with a thick frame, the way a calendar's last row is drawn.
    image.drawRectPerc(0.78, 0.8, 0.12, 0.1, 0.02, 255, 0, 0);
    image.SavePicture(bitmap);
  } catch (const zorvani::RuntimeError&) {
  }
  std::remove(bitmap.c_str());
  return 0;
}
