// SavePicture: the object as a 24-bit bottom-up BMP file with its pixel rows at
// offset 58 (file header, the 44-byte tBitmapInfo, then the pixel memory as it is).
//
// The three blocks go to a new temporary file beside the target, "<name>.<8 hex
// digits>.tmp", made exclusively so that nothing planted in the folder is written
// through. It is flushed and then replaces the target, so a failed save or a crash
// never leaves a damaged wallpaper; one that a crash left behind goes at the next save.
#include <cstring>
#include <random>

#include "dib/cDIBSection.h"
#include "platform/process.h"
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

constexpr std::size_t kTagDigits = 8;

std::string TemporaryName(const std::string& target) {
  static const char kHex[] = "0123456789abcdef";
  std::random_device random;
  std::string tag;
  for (std::uint32_t bits = random(); tag.size() < kTagDigits; bits >>= 4) tag += kHex[bits & 15];
  return target + "." + tag + ".tmp";
}

// Ours: "<base>.<8 hex digits>.tmp", and "<base>.tmp" of earlier versions.
bool IsTemporaryOf(const std::string& entry, const std::string& base) {
  if (entry == base + ".tmp") return true;
  if (entry.size() != base.size() + kTagDigits + 5 || entry.compare(0, base.size() + 1, base + ".") != 0 ||
      entry.compare(entry.size() - 4, 4, ".tmp") != 0) {
    return false;
  }
  return entry.find_first_not_of("0123456789abcdef", base.size() + 1) == base.size() + 1 + kTagDigits;
}

// Deleting a link deletes the link, never what it points at.
void RemoveLeftTemporaries(platform::Files& files, const std::string& target) {
  const auto slash = target.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = target.substr(folder.size());
  for (const std::string& entry : files.FolderEntries(folder)) {
    if (IsTemporaryOf(entry, base)) files.DeleteFileA(folder + entry);
  }
}

}  // namespace

Boolean cDIBSection::SavePicture(const std::string& sFileName) { return WriteBitmapFile(lBitsPtr, sFileName); }

Boolean cDIBSection::WriteBitmapFile(std::uint8_t* bits, const std::string& sFileName) {
  const std::uint16_t bfType = 0x4D42;
  const std::int32_t sizeImage = static_cast<std::int32_t>(tBitmapInfo_.biSizeImage);
  const std::int32_t bfSize = Add32(sizeImage, kPixelOffset);
  const std::int32_t bfOffBits = kPixelOffset;

  RemoveLeftTemporaries(files_, sFileName);
  std::string tempName;
  platform::Handle file = platform::kInvalidHandle;
  std::uint32_t openError = 0;
  // A name already taken, by chance or planted, gets another.
  for (int attempt = 0; attempt < 4 && file == platform::kInvalidHandle; ++attempt) {
    tempName = TemporaryName(sFileName);
    file = files_.CreateFileA(tempName);
    openError = files_.GetLastError();
  }
  if (file == platform::kInvalidHandle) {
    throw RuntimeError(kErrBitmapFile, ProgramName() + ".cDIBSection", ApiErrorText(openError));
  }

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
  if (!failed) failed = !files_.FlushFileBuffers(file);
  files_.CloseHandle(file);

  if (!failed) failed = !files_.MoveFileReplace(tempName, sFileName);
  if (failed) files_.DeleteFileA(tempName);
  return failed ? kFalse : kTrue;
}

std::string cDIBSection::ApiErrorText(std::uint32_t code) { return files_.FormatMessageA(code); }

Boolean cDIBSection::WriteFailed(bool result, std::uint32_t toWrite, std::uint32_t written) {
  return (!result || toWrite != written) ? kTrue : kFalse;
}

}  // namespace zorvani
