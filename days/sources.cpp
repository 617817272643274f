// The source lists in the registry and the month's marks made from them.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "days/days.h"
#include "days/fetch.h"
#include "days/local_day.h"
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

// The sources of the last marks, each with its month's days: what the next refresh
// reuses while neither the file nor the month has changed. No calendar text is kept.
struct Expanded {
  Kind kind = Kind::Event;
  std::string location;
  std::optional<FileStamp> stamp;  // of what was read; none when nothing could be
  int year = 0, month = 0;
  std::uint32_t days = 0;
  bool read = false;  // days are the calendar's, not those of a file that could not be read
  std::string zone;   // the user's zone they fell on (ZoneKey's hash)
};
std::vector<Expanded> lastMarks;

// The marks kept across processes, so that a log-on's first refresh need not parse every
// calendar again: one line a source, keyed by everything its days depend on (the file
// read, the month, the user's zone, the reader). Bump kKeptFormat when the reader
// changes what it marks.
constexpr int kKeptFormat = 2;
struct Kept {
  std::string line;
  std::string name;  // the cached copies' name of the location, never the location
  Kind kind = Kind::Event;
  FileStamp stamp;
  int year = 0, month = 0;
  std::string zone;
  std::uint32_t days = 0;
};
struct {
  bool loaded = false;
  std::string bytes;  // as last read or written
  std::vector<Kept> entries;
} kept;

std::string Hash(const std::string& text) { return CacheName(text); }

std::string KeptLine(const Kept& entry) {
  char line[240];  // every field at its widest
  std::snprintf(line, sizeof line, "%s %c %llu %llu %llu %lld %lld %lld %lld %d %d %s %08lx\n", entry.name.c_str(),
                entry.kind == Kind::Holiday ? 'h' : 'e', static_cast<unsigned long long>(entry.stamp.device),
                static_cast<unsigned long long>(entry.stamp.inode), static_cast<unsigned long long>(entry.stamp.size),
                static_cast<long long>(entry.stamp.modifiedSeconds), static_cast<long long>(entry.stamp.modifiedNanoseconds),
                static_cast<long long>(entry.stamp.changedSeconds), static_cast<long long>(entry.stamp.changedNanoseconds),
                entry.year, entry.month, entry.zone.c_str(), static_cast<unsigned long>(entry.days));
  return line;
}

std::string KeptHeader() { return "zorvani month marks " + std::to_string(kKeptFormat) + "\n"; }

// A line is taken only as this code writes it, field for field: anything else, a
// truncated or forged line included, is not one of ours.
std::optional<Kept> ParseKept(const std::string& line) {
  char name[17] = {}, zone[17] = {}, kind = 0;
  unsigned long long device = 0, inode = 0, size = 0;
  long long seconds = 0, nanoseconds = 0, changed = 0, changedNanoseconds = 0;
  unsigned long days = 0;
  Kept entry;
  if (std::sscanf(line.c_str(), "%16s %c %llu %llu %llu %lld %lld %lld %lld %d %d %16s %8lx", name, &kind, &device, &inode,
                  &size, &seconds, &nanoseconds, &changed, &changedNanoseconds, &entry.year, &entry.month, zone, &days) != 13 ||
      (kind != 'h' && kind != 'e') || entry.month < 1 || entry.month > 12 || (days & 1u) != 0) {
    return std::nullopt;
  }
  entry.name = name, entry.zone = zone, entry.kind = kind == 'h' ? Kind::Holiday : Kind::Event;
  entry.stamp = {device, inode, size, seconds, nanoseconds, changed, changedNanoseconds, true};
  entry.days = static_cast<std::uint32_t>(days);
  entry.line = line + "\n";
  if (KeptLine(entry) != entry.line) return std::nullopt;
  return entry;
}

const std::vector<Kept>& KeptMarks() {
  if (kept.loaded) return kept.entries;
  kept.loaded = true;
  std::string bytes;
  if (!ReadKeptMarks(&bytes) || bytes.compare(0, KeptHeader().size(), KeptHeader()) != 0) return kept.entries;
  std::vector<Kept> entries;
  for (std::size_t at = KeptHeader().size(); at < bytes.size();) {
    const std::size_t end = bytes.find('\n', at);
    const std::optional<Kept> entry = end == std::string::npos ? std::nullopt : ParseKept(bytes.substr(at, end - at));
    if (!entry) return kept.entries;  // the whole file or none of it
    entries.push_back(*entry);
    at = end + 1;
  }
  kept.bytes = std::move(bytes);
  kept.entries = std::move(entries);
  return kept.entries;
}

// The marks of this refresh's sources, kept where they changed: a settled stamp only.
void Keep(const std::vector<Expanded>& expansions, const std::string& zone) {
  std::vector<Kept> entries;
  std::string bytes = KeptHeader();
  for (const Expanded& expanded : expansions) {
    if (!expanded.read || !expanded.stamp || !expanded.stamp->settled) continue;
    Kept entry{{}, Hash(expanded.location), expanded.kind, *expanded.stamp, expanded.year, expanded.month, zone,
               expanded.days};
    entry.line = KeptLine(entry);
    if (bytes.size() + entry.line.size() > kMaxKeptMarks) break;
    bytes += entry.line;
    entries.push_back(std::move(entry));
  }
  if (entries.empty() || bytes == kept.bytes) return;
  KeepMarks(bytes);
  kept = {true, std::move(bytes), std::move(entries)};
}
// Where the last marks were made from both lists: the lists' stamps before they were read
// and what they held. A list edited since (a source added, removed or recoloured) calls
// for the marks again, as an edited calendar does.
struct {
  bool made = false;
  ListStamps stamps;
  std::vector<Source> sources;
} lastLists;

// The file a source is read from: an address's is the copy the fetch rounds keep of it
// (days/fetch.h), so a replaced copy is seen by its stamp like an edited file.
std::string FileOf(const Source& source) {
  return source.IsAddress() ? CachedCopyPath(source.location) : source.location;
}

// A fetched copy is only ever replaced whole, a new file renamed over it, never written
// in place: its stamp holds at once, where a local file's must first settle, and its
// change time (moved by the cache's own change of mode) tells nothing its inode does not.
void AsFetchedCopy(const Source& source, FileStamp* stamp) {
  if (!source.IsAddress()) return;
  stamp->settled = true;
  stamp->changedSeconds = stamp->changedNanoseconds = 0;
}
std::optional<FileStamp> StampOf(const Source& source, const std::string& file) {
  std::optional<FileStamp> stamp = StampOfSourceFile(file);
  if (stamp) AsFetchedCopy(source, &*stamp);
  return stamp;
}

std::uint32_t DaysOf(const Source& source, int year, int month, const std::string& zone, Expanded* expanded) {
  const std::string file = FileOf(source);
  if (file.empty()) return 0;
  for (const Expanded& known : lastMarks) {
    if (known.location != source.location || known.kind != source.kind || known.year != year || known.month != month ||
        known.zone != zone || !known.stamp || !known.stamp->settled) {
      continue;
    }
    const std::optional<FileStamp> now = StampOf(source, file);
    if (now && *now == *known.stamp) {
      expanded->stamp = known.stamp;
      expanded->read = known.read;
      return known.days;
    }
    break;
  }
  if (!KeptMarks().empty()) {
    const std::optional<FileStamp> now = StampOf(source, file);
    const std::string name = Hash(source.location);
    for (const Kept& entry : KeptMarks()) {
      if (now && now->settled && entry.name == name && entry.kind == source.kind && entry.year == year &&
          entry.month == month && entry.zone == zone && entry.stamp == *now) {
        expanded->stamp = now;
        expanded->read = true;
        return entry.days;
      }
    }
  }
  std::string text;
  FileStamp stamp;
  if (!ReadSourceFile(file, &text, &stamp)) {
    expanded->stamp = StampOf(source, file);  // unreadable as it stands: read again once it changes
    return 0;
  }
  AsFetchedCopy(source, &stamp);
  expanded->stamp = stamp;
  std::uint32_t days = 0;
  expanded->read = CalendarDays(text, year, month, &days);
  return expanded->read ? days : 0;
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

std::vector<Source> ListedSources() {
  std::vector<Source> sources;
  // The machine's first: a company's holidays take their colour before a user's own list.
  for (const std::vector<Listed>& list : {MachineSources(), UserSources()}) {
    for (const Listed& listed : list) sources.push_back(listed.source);
  }
  return sources;
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

std::string ShownName(const std::string& text) {
  std::string shown;
  bool space = false;
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = [&text](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    const unsigned lead = byte(at);
    const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    std::uint32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    bool valid = length != 0;
    for (std::size_t i = 1; valid && i < length; ++i) {
      valid = (byte(at + i) & 0xC0) == 0x80;
      code = code << 6 | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and what lies past Unicode are no characters.
    static const std::uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    valid = valid && code >= kLeast[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    if (!valid) {
      ++at;
      continue;
    }
    // Controls, line breaks and the marks that turn text's direction are spaces here.
    const bool blank = code <= 0x20 || (code >= 0x7F && code < 0xA0) || code == 0x2028 || code == 0x2029 ||
                       (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
    if (blank) {
      space = !shown.empty();
    } else {
      if (shown.size() + (space ? 1 : 0) + length > kMaxNameBytes) break;
      if (space) shown += ' ';
      space = false;
      shown.append(text, at, length);
    }
    at += length;
  }
  return shown;
}

MonthMarks MarkedDays(const std::vector<Source>& sources, int year, int month) {
  MonthMarks marks;
  std::vector<Expanded> expansions;
  const std::string zone = sources.empty() ? std::string() : Hash(ZoneKey());
  for (const Source& source : sources) {
    Expanded expanded{source.kind, source.location, std::nullopt, year, month, 0, false, zone};
    const std::uint32_t bits = expanded.days = DaysOf(source, year, month, zone, &expanded);
    expansions.push_back(std::move(expanded));
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
  if (!sources.empty()) Keep(expansions, zone);
  lastMarks = std::move(expansions);
  lastLists.made = false;
  return marks;
}

bool ChangedSinceLastMarks() {
  if (lastLists.made) {
    const ListStamps now = SourceListStamps();
    if (!SameSettled(lastLists.stamps, now)) {
      const std::vector<Source> listed = ListedSources();
      const auto same = [](const Source& a, const Source& b) {
        return a.kind == b.kind && a.colour == b.colour && a.location == b.location;
      };
      if (!std::equal(listed.begin(), listed.end(), lastLists.sources.begin(), lastLists.sources.end(), same))
        return true;
      lastLists.stamps = now;
    }
  }
  for (const Expanded& known : lastMarks) {
    const Source source{known.kind, std::nullopt, known.location};
    const std::string file = FileOf(source);
    if (file.empty()) continue;
    const std::optional<FileStamp> now = StampOf(source, file);
    // An unsettled stamp is checked again once it has settled: one more redraw at most.
    if (now.has_value() != known.stamp.has_value() || (now && (!(*now == *known.stamp) || !known.stamp->settled))) {
      return true;
    }
  }
  return false;
}

MonthMarks MarkedDays(int year, int month) {
  ListStamps stamps = SourceListStamps();
  std::vector<Source> sources = ListedSources();
  const MonthMarks marks = MarkedDays(sources, year, month);
  lastLists = {true, std::move(stamps), std::move(sources)};
  return marks;
}

bool SameSettled(const ListStamps& before, const ListStamps& now) {
  return before == now && std::all_of(now.begin(), now.end(), [](const auto& s) { return !s || s->settled; });
}

DayNames HolidayNames(const std::vector<Source>& sources, int year, int month) {
  DayNames names;
  for (const Source& source : sources) {
    const std::string file = FileOf(source);
    std::string text;
    FileStamp stamp;
    if (source.kind != Kind::Holiday || file.empty() || !ReadSourceFile(file, &text, &stamp)) continue;
    DayNames found;
    std::uint32_t days = 0;
    if (!CalendarDays(text, year, month, &days, &found)) continue;
    for (std::size_t d = 1; d < names.size(); ++d) {
      if (names[d].empty()) names[d] = found[d];
    }
  }
  return names;
}

DayNames HolidayNames(int year, int month) {
  return HolidayNames(ListedSources(), year, month);
}

}  // namespace days
}  // namespace zorvani
