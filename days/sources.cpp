// The source lists in the registry and the month's marks made from them.
#include <cctype>
#include <cstdio>

#include "days/days.h"
#include "days/source_files.h"
#include "platform/services.h"

namespace zorvani {
namespace days {
namespace {

constexpr std::uint32_t kHkeyCurrentUser = 0x80000001u;
constexpr std::uint32_t kHkeyLocalMachine = 0x80000002u;
// Far beyond a source's line; a longer value is not one of ours.
constexpr std::uint32_t kLongestValue = 8192;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::optional<Colour> ParseColour(const std::string& text) {
  if (text.size() != 7 || text[0] != '#') return std::nullopt;
  std::uint8_t parts[3];
  for (int i = 0; i < 3; ++i) {
    const int high = HexDigit(text[static_cast<std::size_t>(1 + 2 * i)]);
    const int low = HexDigit(text[static_cast<std::size_t>(2 + 2 * i)]);
    if (high < 0 || low < 0) return std::nullopt;
    parts[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return Colour{parts[0], parts[1], parts[2]};
}

std::vector<Listed> ReadList(std::uint32_t root) {
  std::vector<Listed> list;
  platform::Registry& registry = *platform::Current().registry;
  platform::Handle key = 0;
  if (registry.RegOpenKeyExA(root, kSourcesKey, 0, platform::kKeyQueryValue, &key) != platform::kErrorSuccess) {
    return list;
  }
  for (int n = 1; n <= kMaxSources; ++n) {
    const std::string name = std::to_string(n);
    std::uint32_t type = 0, size = kLongestValue;
    std::vector<std::uint8_t> data(kLongestValue);
    if (registry.RegQueryValueExA(key, name, &type, data.data(), &size) != platform::kErrorSuccess ||
        type != platform::kRegSz || size > kLongestValue) {
      continue;
    }
    std::string text(data.begin(), data.begin() + size);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    if (const std::optional<Source> source = ParseSource(text)) list.push_back({name, *source});
  }
  registry.RegCloseKey(key);
  return list;
}

}  // namespace

bool Source::IsAddress() const {
  return location.compare(0, 8, "https://") == 0 || location.compare(0, 9, "webcal://") == 0;
}

Colour Source::ColourOrDefault() const {
  if (colour) return *colour;
  return kind == Kind::Holiday ? Colour{200, 30, 30} : Colour{30, 90, 210};
}

std::optional<Source> ParseSource(const std::string& text) {
  Source source;
  std::size_t at = text.find(' ');
  const std::string kind = text.substr(0, at);
  if (kind == "holidays") {
    source.kind = Kind::Holiday;
  } else if (kind != "events") {
    return std::nullopt;
  }
  if (at == std::string::npos) return std::nullopt;
  ++at;
  if (text.compare(at, 1, "#") == 0) {
    const std::size_t space = text.find(' ', at);
    source.colour = ParseColour(text.substr(at, space == std::string::npos ? std::string::npos : space - at));
    if (!source.colour || space == std::string::npos) return std::nullopt;
    at = space + 1;
  }
  source.location = text.substr(at);
  // A calendar's address is fetched over TLS only.
  if (source.location.empty() || source.location.find_first_of("\r\n") != std::string::npos ||
      source.location.compare(0, 7, "http://") == 0) {
    return std::nullopt;
  }
  return source;
}

std::string SourceText(const Source& source) {
  std::string text = source.kind == Kind::Holiday ? "holidays " : "events ";
  if (source.colour) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "#%02X%02X%02X ", source.colour->red, source.colour->green, source.colour->blue);
    text += hex;
  }
  return text + source.location;
}

std::vector<Listed> UserSources() { return ReadList(kHkeyCurrentUser); }

std::vector<Listed> MachineSources() {
  std::vector<Listed> list = ReadList(kHkeyLocalMachine);
  for (const auto& [name, text] : MachineFileSourceTexts()) {
    if (const std::optional<Source> source = ParseSource(text)) list.push_back({name, *source});
  }
  return list;
}

MonthMarks MarkedDays(const std::vector<Source>& sources, int year, int month) {
  MonthMarks marks;
  for (const Source& source : sources) {
    std::string text;
    // An address is read from its cached copy, which the fetch rounds keep (days/fetch.h).
    if (!(source.IsAddress() ? ReadCachedCopy(source.location, &text) : ReadSourceFile(source.location, &text))) continue;
    std::uint32_t bits = 0;
    if (!CalendarDays(text, year, month, &bits)) continue;
    for (int d = 1; d <= 31; ++d) {
      if ((bits >> d & 1u) == 0) continue;
      DayMark& mark = marks.day[static_cast<std::size_t>(d)];
      bool& marked = source.kind == Kind::Holiday ? mark.holiday : mark.event;
      if (marked) continue;
      marked = true;
      (source.kind == Kind::Holiday ? mark.holidayColour : mark.eventColour) = source.ColourOrDefault();
      marks.any = true;
    }
  }
  return marks;
}

MonthMarks MarkedDays(int year, int month) {
  std::vector<Source> sources;
  // The machine's first: a company's holidays take their colour before a user's own list.
  for (const std::vector<Listed>& list : {MachineSources(), UserSources()}) {
    for (const Listed& listed : list) sources.push_back(listed.source);
  }
  return MarkedDays(sources, year, month);
}

}  // namespace days
}  // namespace zorvani
