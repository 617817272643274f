// SavePicture: the object as a 24-bit bottom-up BMP file with its pixel rows at
// offset 58 (file header, the 44-byte tBitmapInfo, then the pixel memory as it is).
//
// The three blocks replace the target as platform/replace_file.h does it, so a failed
// save or a crash never leaves a damaged wallpaper and nothing planted in the folder is
// written through.
#include <cstring>

#include "dib/cDIBSection.h"
#include "platform/process.h"
#include "platform/replace_file.h"
#include "runtime/checked_math.h"

namespace zorvani {
namespace {

constexpr std::int32_t kPixelOffset = 58;  // 14 + 40 + one 4-byte colour entry
constexpr std::uint32_t kFileHeaderSize = 14;

// The executable's file name without folder and extension.
std::string ProgramName() {
  std::string name = platform::ExecutablePath();
  const auto slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const auto dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

}  // namespace

Boolean cDIBSection::SavePicture(const std::string& sFileName) { return WriteBitmapFile(lBitsPtr, sFileName); }

Boolean cDIBSection::WriteBitmapFile(std::uint8_t* bits, const std::string& sFileName) {
  const std::uint16_t bfType = 0x4D42;
  const std::int32_t sizeImage = static_cast<std::int32_t>(tBitmapInfo_.biSizeImage);
  const std::int32_t bfSize = Add32(sizeImage, kPixelOffset);
  const std::int32_t bfOffBits = kPixelOffset;

  platform::FileReplacement replacement(files_, sFileName);
  if (!replacement.Create()) {
    throw RuntimeError(kErrBitmapFile, ProgramName() + ".cDIBSection", ApiErrorText(replacement.error()));
  }
  const platform::Handle file = replacement.file();

  bool failed = true;
  std::uint32_t written = 0;
  const platform::Handle block = files_.GlobalAlloc(kFileHeaderSize);
  auto* header = block != 0 ? static_cast<std::uint8_t*>(files_.GlobalLock(block)) : nullptr;
  if (header != nullptr) {
    std::memcpy(header + 0, &bfType, 2);
    std::memcpy(header + 2, &bfSize, 4);
    std::memcpy(header + 10, &bfOffBits, 4);  // bytes 6..9, both reserved words, stay 0
    const bool ok = files_.WriteFile(file, header, kFileHeaderSize, &written);
    failed = WriteFailed(ok, kFileHeaderSize, written) != kFalse;
  }
  if (block != 0) {
    files_.GlobalUnlock(block);
    files_.GlobalFree(block);
  }
  if (!failed) {
    const bool ok = files_.WriteFile(file, &tBitmapInfo_, sizeof tBitmapInfo_, &written);
    failed = WriteFailed(ok, sizeof tBitmapInfo_, written) != kFalse;
  }
  if (!failed) {
    // Without pixel memory (or with a size no section can have) there is nothing to
    // read the rows from: the save fails rather than handing over address 0.
    if (sizeImage < 0 || (bits == nullptr && sizeImage != 0)) {
      failed = true;
    } else {
      const auto count = static_cast<std::uint32_t>(sizeImage);
      const bool ok = files_.WriteFile(file, bits, count, &written);
      failed = WriteFailed(ok, count, written) != kFalse;
    }
  }
  if (failed) {
    replacement.Abandon();
    return kFalse;
  }
  return replacement.Commit() ? kTrue : kFalse;
}

std::string cDIBSection::ApiErrorText(std::uint32_t code) { return files_.FormatMessageA(code); }

Boolean cDIBSection::WriteFailed(bool result, std::uint32_t toWrite, std::uint32_t written) {
  return (!result || toWrite != written) ? kTrue : kFalse;
}

}  // namespace zorvani
