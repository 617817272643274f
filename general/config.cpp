// LoadConfig: section "config" of WP.ini beside the program fills the configuration record.
#include <vector>

#include "general/general.h"
#include "platform/locale.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "runtime/rounding.h"
#include "runtime/runtime_error.h"
#include "runtime/text_number.h"

namespace zorvani {
namespace {

constexpr std::uint32_t kFirstBufferSize = 255;
// A profile section is never this large; past it the read stops growing and works on what it has.
constexpr std::uint32_t kLargestBufferSize = 1u << 26;
constexpr double kFractionScale = 100000000000.0;

std::string TrimSpaces(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

// The whole section: the call reports size - 2 when it had to cut, so grow and ask again.
std::vector<char> ReadConfigSection(const std::string& iniPath, std::uint32_t& placed) {
  std::vector<char> buffer;
  for (std::uint32_t size = kFirstBufferSize;; size *= 2) {
    buffer.assign(size, ' ');
    placed = platform::GetPrivateProfileSectionA("config", buffer.data(), size, iniPath);
    if (placed != size - 2 || size >= kLargestBufferSize) return buffer;
  }
}

void ApplyEntry(const std::string& entry) {
  const std::size_t firstEquals = entry.find('=');
  if (firstEquals == std::string::npos) Raise(kErrSubscriptOutOfRange);
  const std::size_t secondEquals = entry.find('=', firstEquals + 1);
  const std::string key = TrimSpaces(entry.substr(0, firstEquals));
  const std::string value = TrimSpaces(
      entry.substr(firstEquals + 1, secondEquals == std::string::npos ? std::string::npos : secondEquals - firstEquals - 1));

  struct Fraction {
    const char* key;
    double ConfigRecord::*field;
  };
  static constexpr Fraction kFractions[] = {
      {"CELL_X", &ConfigRecord::CELL_X},       {"CELL_Y", &ConfigRecord::CELL_Y},
      {"SPACING_X", &ConfigRecord::SPACING_X}, {"SPACING_Y", &ConfigRecord::SPACING_Y},
      {"CORNER_X", &ConfigRecord::CORNER_X},   {"CORNER_Y", &ConfigRecord::CORNER_Y},
      {"RECT_THICKNESS", &ConfigRecord::RECT_THICKNESS},
  };
  struct Colour {
    const char* key;
    std::int16_t ConfigRecord::*field;
  };
  static constexpr Colour kColours[] = {
      {"R_COMP", &ConfigRecord::R_COMP}, {"G_COMP", &ConfigRecord::G_COMP}, {"B_COMP", &ConfigRecord::B_COMP}};

  if (key == "FIRST_DAY") {
    // A weekday's English name, in any case; anything else keeps Monday, so that a
    // WP.ini the program cannot read frames as before.
    static const char* const kWeekdays[7] = {"monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"};
    std::string name;
    for (const char c : value) name += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    Config.FIRST_DAY = 1;
    for (std::int16_t day = 1; day <= 7; ++day) {
      if (name == kWeekdays[day - 1]) Config.FIRST_DAY = day;
    }
    return;
  }
  for (const Fraction& fraction : kFractions) {
    if (key == fraction.key) {
      Config.*fraction.field = TextToDouble(value, platform::UserDecimalSeparator()) / kFractionScale;
      return;
    }
  }
  for (const Colour& colour : kColours) {
    if (key == colour.key) {
      Config.*colour.field = RoundToInt16(TextToDouble(value, platform::UserDecimalSeparator()));
      return;
    }
  }
}

}  // namespace

void LoadConfigFrom(const std::string& iniPath) {
  std::uint32_t placed = 0;
  const std::vector<char> buffer = ReadConfigSection(iniPath, placed);
  if (placed == 0) return;

  // Entries are NUL-terminated texts; the first empty one marks the end of the list.
  std::size_t start = 0;
  while (start < buffer.size()) {
    std::size_t end = start;
    while (end < buffer.size() && buffer[end] != '\0') ++end;
    if (end == start) return;
    ApplyEntry(std::string(buffer.data() + start, end - start));
    start = end + 1;
  }
}

void LoadConfig() {
  const std::string program = platform::ExecutablePath();
  const std::size_t separator = program.rfind(platform::PathSeparator());
  const std::string folder = separator == std::string::npos ? std::string(".") : program.substr(0, separator);
  LoadConfigFrom(folder + platform::PathSeparator() + "WP.ini");
}

}  // namespace zorvani
