#pragma once
// The user's own days on the calendar: the list of calendar sources (local .ics files
// now; published https:// and webcal:// addresses, read from a cached copy once a
// fetcher keeps one) and their expansion into this month's marked days. The refresh
// and the month-picture maker ask only MarkedDays.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zorvani {
namespace days {

enum class Kind { Holiday, Event };

struct Colour {
  std::uint8_t red = 0, green = 0, blue = 0;
  bool operator==(const Colour& other) const {
    return red == other.red && green == other.green && blue == other.blue;
  }
};

// One entry of a list, kept as one registry text: "holidays|events [#RRGGBB] LOCATION",
// LOCATION a file path or an https:// or webcal:// address, spaces included.
struct Source {
  Kind kind = Kind::Event;
  std::optional<Colour> colour;
  std::string location;
  bool IsAddress() const;
  Colour ColourOrDefault() const;
};
std::optional<Source> ParseSource(const std::string& text);
std::string SourceText(const Source& source);

// Where the lists live: a key of their own beside the previous-wallpaper record
// (HKEY_CURRENT_USER\Software\ZorvaniWallpaper), which removal deletes whole, so a
// removal keeps them. Values "1" .. kMaxSources, each one source.
constexpr char kSourcesKey[] = "Software\\ZorvaniWallpaper Calendars";
constexpr int kMaxSources = 32;
struct Listed {
  std::string name;  // the value's name
  Source source;
};
// The user's list (HKEY_CURRENT_USER), or the machine's: HKEY_LOCAL_MACHINE and, on
// Linux, the machine's own file as well where the user has a HKEY_LOCAL_MACHINE.reg
// of their own. Unreadable or malformed entries are left out.
std::vector<Listed> UserSources();
std::vector<Listed> MachineSources();

// Day 1..31 of one month: whether a holiday and an event fall on it, in whose colour
// (the first source listed that marks it).
struct DayMark {
  bool holiday = false, event = false;
  Colour holidayColour, eventColour;
};
struct MonthMarks {
  std::array<DayMark, 32> day{};  // [0] unused
  bool any = false;
};

// Bounds on one calendar: what a source may cost a refresh.
constexpr std::size_t kMaxCalendarBytes = 16u << 20;
constexpr long kMaxIterations = 100000;  // occurrences looked at, over the whole calendar
constexpr int kMaxNesting = 8;           // components inside components

// A day's name as a calendar gives it (its SUMMARY), made safe to show: valid UTF-8
// only, no control characters, at most kMaxNameBytes bytes. Plain text, never markup.
constexpr std::size_t kMaxNameBytes = 64;
using DayNames = std::array<std::string, 32>;  // [0] unused; empty where none
std::string ShownName(const std::string& text);

// The days of year/month (local time of the process's zone) on which the calendar text
// has an occurrence; bit d set for day d, and in names (when given) the first name of
// each. Never throws; a calendar it cannot read marks nothing and gives false.
bool CalendarDays(const std::string& icsText, int year, int month, std::uint32_t* days, DayNames* names = nullptr);
// The same with every event parsed, none passed over from its text alone (what the
// fuzzer holds CalendarDays to).
bool CalendarDaysParsingEach(const std::string& icsText, int year, int month, std::uint32_t* days,
                             DayNames* names = nullptr);

// Every source of both lists, read and expanded for year/month. A source whose file
// and month are those of the last marks is not read again.
MonthMarks MarkedDays(int year, int month);
// The same for given sources, in order (tests and the month-picture maker).
MonthMarks MarkedDays(const std::vector<Source>& sources, int year, int month);
// Whether a file the last marks were made from has changed since (one stat each, no
// reading): the daily check's cue to redraw the day. Any file a source is read from
// counts, a fetched copy as much as a local calendar.
bool ChangedSinceLastMarks();

// The holidays' names of year/month, the first source's where two name one day.
DayNames HolidayNames(int year, int month);
DayNames HolidayNames(const std::vector<Source>& sources, int year, int month);

}  // namespace days
}  // namespace zorvani
