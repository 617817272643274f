// The calendar reader: libical parses the text and iterates each event's recurrence;
// what remains here is the month window, the bounds and the local day of each time.
#include <libical/ical.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "days/days.h"
#include "days/local_day.h"

namespace zorvani {
namespace days {
namespace {

struct ComponentFree {
  void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
struct IteratorFree {
  void operator()(icalrecur_iterator* i) const { icalrecur_iterator_free(i); }
};

// libical builds and frees components recursively, and takes a property's parameters in
// time that grows with the square of their number: a file nested deeper than
// kMaxNesting, or with a line of more than kMaxParameters, is refused before parsing; so
// is a NUL, which would cut the text short. The lines are looked at as libical reads
// them (NextPiece's ends, folds undone, names in any case); a BEGIN is counted wherever
// it may be one, an END only where it surely is.
constexpr int kMaxParameters = 32;
constexpr std::size_t kMaxZones = 32;
// libical takes a calendar's zones out (and frees them) each by a search through all of
// them, in time that grows with the square of their number: more are refused.
constexpr int kMaxZonesInFile = 1024;
// A component of millions of lines (properties, or alarms in an event) costs libical
// hundreds of MiB and many seconds to build; the events of a calendar are not counted.
constexpr int kMaxLinesInComponent = 10000;

// Where the text's line from `at` ends, as NextPiece ends it for libical: at its '\n',
// or at '\r' once no '\n' is left (old Mac files); *stop is that end less its CR.
std::size_t LineEnd(const std::string& text, std::size_t lastNewline, std::size_t at, std::size_t* stop) {
  std::size_t end = lastNewline != std::string::npos && at <= lastNewline ? text.find('\n', at) : text.find('\r', at);
  if (end == std::string::npos) end = text.size();
  *stop = end;
  if (*stop > at && text[*stop - 1] == '\r') --*stop;
  return end;
}

bool Acceptable(const std::string& text) {
  if (text.size() > kMaxCalendarBytes || text.find('\0') != std::string::npos) return false;
  const std::size_t lastNewline = text.rfind('\n');
  int depth = 0, parameters = 0, zones = 0;
  int lines[kMaxNesting + 1] = {};  // each open component's own lines
  std::string name, value;
  bool inName = true, inValue = false, quoted = false;
  const auto ended = [&] {
    std::string trimmed = name;
    for (char& c : trimmed) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const bool end = trimmed == "END";
    trimmed.erase(0, trimmed.find_first_not_of(" \t"));
    trimmed.erase(trimmed.find_last_not_of(" \t") + 1);
    if (trimmed == "BEGIN" && depth >= 2 && ++lines[depth] > kMaxLinesInComponent) return false;
    if (trimmed == "BEGIN" && ++depth > kMaxNesting) return false;
    if (trimmed == "BEGIN") lines[depth] = 0;
    else if (!end && ++lines[depth] > kMaxLinesInComponent) return false;
    for (char& c : value) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (trimmed == "BEGIN" && value.find("VTIMEZONE") != std::string::npos && ++zones > kMaxZonesInFile) return false;
    if (end && depth > 0) --depth;
    return parameters <= kMaxParameters;
  };
  for (std::size_t at = 0; at < text.size();) {
    std::size_t stop = 0;
    const std::size_t end = LineEnd(text, lastNewline, at, &stop);
    std::size_t from = at;
    if (at > 0 && (text[at] == ' ' || text[at] == '\t')) {
      ++from;  // a fold: the same line goes on
    } else {
      if (at > 0 && !ended()) return false;
      name.clear(), value.clear(), parameters = 0, inName = true, inValue = false, quoted = false;
    }
    for (std::size_t i = from; i < stop && value.size() < 24; ++i) {
      const char c = text[i];
      if (inValue) {
        if (c != ' ' && c != '\t') value += c;
        continue;
      }
      if (c == '"') quoted = !quoted;
      if (quoted) continue;
      if (c == ':') inValue = true;
      if (c == ';') ++parameters;
      if (c == ':' || c == ';') inName = false;
      if (inName && name.size() < 16) name += c;
    }
    at = end + 1;
  }
  return ended();
}

// libical's own reader of a string looks for each line's end again for every 80 bytes it
// takes, so a line of a few MB costs it minutes: this one finds each end once. As there,
// a text without any '\n' left has its lines end at '\r' (old Mac files).
struct Lines {
  const char* at;
  const char* end;
  const char* lineEnd = nullptr;  // just past the current line's end
  bool crOnly = false;
};

char* NextPiece(char* out, std::size_t size, void* data) {
  Lines& lines = *static_cast<Lines*>(data);
  if (lines.at >= lines.end || size < 2) return nullptr;
  const auto left = [&lines] { return static_cast<std::size_t>(lines.end - lines.at); };
  if (lines.lineEnd <= lines.at) {
    const void* found = lines.crOnly ? nullptr : std::memchr(lines.at, '\n', left());
    if (found == nullptr) lines.crOnly = true, found = std::memchr(lines.at, '\r', left());
    lines.lineEnd = found != nullptr ? static_cast<const char*>(found) + 1 : lines.end;
  }
  const std::size_t n = std::min(size - 1, static_cast<std::size_t>(lines.lineEnd - lines.at));
  std::memcpy(out, lines.at, n);
  if (lines.crOnly && lines.at + n == lines.lineEnd && out[n - 1] == '\r') out[n - 1] = '\n';
  out[n] = '\0';
  lines.at += n;
  return out;
}

icalcomponent* Parse(const char* begin, const char* end) {
  Lines lines{begin, end};
  icalparser* parser = icalparser_new();
  if (parser == nullptr) return nullptr;
  icalparser_set_gen_data(parser, &lines);
  icalcomponent* root = icalparser_parse(parser, NextPiece);
  icalparser_free(parser);
  return root;
}

// A day as a count since 1970-01-01, for the month window.
long DayNumber(int year, int month, int day) {
  const int y = month <= 2 ? year - 1 : year;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return long{era} * 146097 + doe - 719468;
}

// The local day of a time: a date as it stands, a floating time as written, a time in
// UTC or a zone as it falls in the user's zone.
long LocalDay(icaltimetype t) {
  if (icaltime_is_date(t) || (t.zone == nullptr && !icaltime_is_utc(t))) return DayNumber(t.year, t.month, t.day);
  const std::time_t when = icaltime_as_timet_with_zone(t, t.zone != nullptr ? t.zone : icaltimezone_get_utc_timezone());
  int year = 0, month = 0, day = 0;
  if (!LocalDate(when, &year, &month, &day)) return DayNumber(t.year, t.month, t.day);
  return DayNumber(year, month, day);
}

class Expansion {
 public:
  Expansion(int year, int month, std::uint32_t* days, DayNames* names)
      : first_(DayNumber(year, month, 1)), last_(first_ + DaysInMonth(year, month) - 1), days_(days), names_(names) {}

  // The name that the next marks give their days, when names are asked for.
  void Name(icalcomponent* event) {
    if (names_ == nullptr) return;
    const char* summary = icalcomponent_get_summary(event);
    name_ = ShownName(summary != nullptr ? summary : "");
  }

  // One occurrence looked at, whether marked or not; false once the budget is gone.
  bool Step() { return --left_ >= 0; }

  // Marks each local day that an occurrence from start lasting lengthSeconds (or
  // lengthDays for a date) touches; the end itself is exclusive.
  void Mark(icaltimetype start, int lengthDays, long lengthSeconds) {
    const long from = LocalDay(start);
    long to = from;
    if (icaltime_is_date(start)) {
      to = from + (lengthDays > 0 ? lengthDays - 1 : 0);
    } else if (lengthSeconds > 0) {
      to = LocalDay(icaltime_add(start, icaldurationtype_from_int(static_cast<int>(lengthSeconds - 1))));
    }
    if (to - from > 366) to = from + 366;
    for (long d = from < first_ ? first_ : from; d <= to && d <= last_; ++d) {
      *days_ |= 1u << (d - first_ + 1);
      if (names_ != nullptr && (*names_)[static_cast<std::size_t>(d - first_ + 1)].empty()) {
        (*names_)[static_cast<std::size_t>(d - first_ + 1)] = name_;
      }
    }
  }

  long first() const { return first_; }
  long last() const { return last_; }

 private:
  static int DaysInMonth(int year, int month) {
    return static_cast<int>(DayNumber(month == 12 ? year + 1 : year, month == 12 ? 1 : month + 1, 1) -
                            DayNumber(year, month, 1));
  }
  long first_, last_;
  std::uint32_t* days_;
  DayNames* names_;
  std::string name_;
  long left_ = kMaxIterations;
};

using OverrideKey = std::pair<std::string, long>;  // UID and the replaced start, as UTC seconds

std::time_t Instant(icaltimetype t) {
  return icaltime_as_timet_with_zone(t, t.zone != nullptr ? t.zone : icaltimezone_get_utc_timezone());
}

// A rule by the second, minute or hour is walked by libical one such step at a time,
// filters and all, so one whose filters never match runs for centuries of seconds.
// Days are all a mark needs: such a rule becomes a daily one over its day filters, a
// COUNT becoming the last day its occurrences can reach.
icalrecurrencetype DayRule(icalrecurrencetype rule, icaltimetype start) {
  long unit = 0;
  if (rule.freq == ICAL_SECONDLY_RECURRENCE) unit = 1;
  if (rule.freq == ICAL_MINUTELY_RECURRENCE) unit = 60;
  if (rule.freq == ICAL_HOURLY_RECURRENCE) unit = 3600;
  if (unit == 0) return rule;
  if (rule.count > 0) {
    const double span = double{1} * rule.count * (rule.interval > 0 ? rule.interval : 1) * static_cast<double>(unit);
    const long days = span / 86400 > 400 * 366 ? 400 * 366 : static_cast<long>(span / 86400) + 1;
    icaltimetype until = start;
    until.day += static_cast<int>(days);
    rule.until = icaltime_normalize(until);
    rule.count = 0;
  }
  rule.freq = ICAL_DAILY_RECURRENCE;
  rule.interval = 1;
  rule.by_second[0] = rule.by_minute[0] = rule.by_hour[0] = ICAL_RECURRENCE_ARRAY_MAX;
  rule.by_set_pos[0] = ICAL_RECURRENCE_ARRAY_MAX;
  return rule;
}

void ExpandEvent(icalcomponent* event, Expansion& expansion, const std::set<OverrideKey>& overrides) {
  const icaltimetype start = icalcomponent_get_dtstart(event);
  if (icaltime_is_null_time(start) || !icaltime_is_valid_time(start)) return;
  expansion.Name(event);
  const icaltimetype end = icalcomponent_get_dtend(event);
  int lengthDays = 1;
  long lengthSeconds = 0;
  if (!icaltime_is_null_time(end)) {
    if (icaltime_is_date(start)) {
      lengthDays = static_cast<int>(DayNumber(end.year, end.month, end.day) - DayNumber(start.year, start.month, start.day));
      if (lengthDays > 366) lengthDays = 366;
    } else {
      lengthSeconds = static_cast<long>(Instant(end) - Instant(start));
      if (lengthSeconds > 366L * 86400) lengthSeconds = 366L * 86400;
    }
  }
  const char* uidText = icalcomponent_get_uid(event);
  const std::string uid = uidText != nullptr ? uidText : "";
  // A moved occurrence is its own component; the master skips the start it replaces.
  const bool isOverride = !icaltime_is_null_time(icalcomponent_get_recurrenceid(event));
  // libical looks through all of the event's properties for its exclusions at each
  // occurrence: one with none is not asked.
  const bool excludes = icalcomponent_get_first_property(event, ICAL_EXDATE_PROPERTY) != nullptr ||
                        icalcomponent_get_first_property(event, ICAL_EXRULE_PROPERTY) != nullptr;
  const auto excluded = [&](icaltimetype* occurrence) {
    return excludes && icalproperty_recurrence_is_excluded(event, const_cast<icaltimetype*>(&start), occurrence) != 0;
  };

  // Dates added to the series one by one (RDATE), in DTSTART's zone unless they name their own.
  for (icalproperty* added = icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY);
       added != nullptr && !isOverride && expansion.Step();
       added = icalcomponent_get_next_property(event, ICAL_RDATE_PROPERTY)) {
    const icaldatetimeperiodtype date = icalproperty_get_rdate(added);
    icaltimetype occurrence = icaltime_is_null_time(date.time) ? date.period.start : date.time;
    if (icaltime_is_null_time(occurrence) || !icaltime_is_valid_time(occurrence)) continue;
    if (occurrence.zone == nullptr && !icaltime_is_utc(occurrence)) {
      icalparameter* zone = icalproperty_get_first_parameter(added, ICAL_TZID_PARAMETER);
      const char* name = zone != nullptr ? icalparameter_get_tzid(zone) : nullptr;
      icalcomponent* calendar = icalcomponent_get_parent(event);
      occurrence.zone = name == nullptr ? start.zone : calendar != nullptr ? icalcomponent_get_timezone(calendar, name) : nullptr;
      if (occurrence.zone == nullptr && name != nullptr) occurrence.zone = icaltimezone_get_builtin_timezone(name);
    }
    if (excluded(&occurrence)) continue;
    if (overrides.count({uid, static_cast<long>(Instant(occurrence))}) != 0) continue;
    expansion.Mark(occurrence, lengthDays, lengthSeconds);
  }
  // What starts after the month, or whose rule ends before it, costs no iterator (libical
  // sets up an ICU calendar for each).
  const long startDay = DayNumber(start.year, start.month, start.day);
  if (startDay > expansion.last() + 1) return;
  icalproperty* rule = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY);
  if (rule == nullptr || isOverride) {
    if (expansion.Step()) expansion.Mark(start, lengthDays, lengthSeconds);
    return;
  }
  icalrecurrencetype recurrence = DayRule(icalproperty_get_rrule(rule), start);
  const long reach = icaltime_is_date(start) ? lengthDays : lengthSeconds / 86400 + 1;
  if (!icaltime_is_null_time(recurrence.until) &&
      DayNumber(recurrence.until.year, recurrence.until.month, recurrence.until.day) + reach < expansion.first() - 1) {
    return;
  }
  // libical walks a rule whose filters never match until the year 2582 before it gives
  // up; an UNTIL just past the window ends the walk there, COUNT or not.
  icaltimetype windowEnd = start;
  windowEnd.year = 1970, windowEnd.month = 1, windowEnd.day = static_cast<int>(expansion.last() + 3);
  windowEnd = icaltime_normalize(windowEnd);
  if (icaltime_is_null_time(recurrence.until) || icaltime_compare(recurrence.until, windowEnd) > 0) {
    recurrence.until = windowEnd;
  }
  const std::unique_ptr<icalrecur_iterator, IteratorFree> it(icalrecur_iterator_new(recurrence, start));
  if (!it) return;
  // Occurrences are counted from DTSTART, so a rule without COUNT may start at the
  // window (less the event's length); one with COUNT is walked from its start, bounded.
  if (recurrence.count == 0) {
    const long back = expansion.first() - 1 - reach;
    if (startDay < back) {
      icaltimetype from = start;
      from.year = 1970, from.month = 1, from.day = static_cast<int>(back + 1);
      icalrecur_iterator_set_start(it.get(), icaltime_normalize(from));
    }
  }
  while (expansion.Step()) {
    const icaltimetype next = icalrecur_iterator_next(it.get());
    if (icaltime_is_null_time(next)) break;
    if (DayNumber(next.year, next.month, next.day) > expansion.last() + 1) break;
    icaltimetype occurrence = next;
    occurrence.zone = start.zone;
    if (excluded(&occurrence)) continue;
    if (overrides.count({uid, static_cast<long>(Instant(occurrence))}) != 0) continue;
    expansion.Mark(occurrence, lengthDays, lengthSeconds);
  }
}

// A zone's offsets change once or twice a year; libical works out every change a zone's
// rules make from their start (Outlook's is 1601) to the time asked, unbounded, so a rule
// by the minute or the hour would take hours and gigabytes, and one yearly rule over
// every day of every month a second. Only yearly rules within one month are kept.
template <std::size_t N>
int Listed(const short (&by)[N]) {
  int n = 0;
  while (n < static_cast<int>(N) && by[n] != ICAL_RECURRENCE_ARRAY_MAX) ++n;
  return n;
}

void KeepYearlyChanges(icalcomponent* zone) {
  for (icalcomponent* part = icalcomponent_get_first_component(zone, ICAL_ANY_COMPONENT); part != nullptr;
       part = icalcomponent_get_next_component(zone, ICAL_ANY_COMPONENT)) {
    std::vector<icalproperty*> unfit;
    for (icalproperty* rule = icalcomponent_get_first_property(part, ICAL_RRULE_PROPERTY); rule != nullptr;
         rule = icalcomponent_get_next_property(part, ICAL_RRULE_PROPERTY)) {
      const icalrecurrencetype r = icalproperty_get_rrule(rule);
      if (r.freq != ICAL_YEARLY_RECURRENCE || Listed(r.by_hour) + Listed(r.by_minute) + Listed(r.by_second) > 0 ||
          Listed(r.by_month) > 1 || Listed(r.by_year_day) > 1 || Listed(r.by_week_no) > 0) {
        unfit.push_back(rule);
      }
    }
    for (icalproperty* rule : unfit) icalcomponent_remove_property(part, rule), icalproperty_free(rule);
  }
}

// The text cut into what libical would make one component each: every VEVENT of a
// top-level VCALENDAR is parsed, expanded and freed on its own, the rest (zones, odd
// parts) parsed whole. Lines are read as NextPiece and libical read them; a line whose
// name libical might read otherwise than a plain name (quotes, spaces, an empty name)
// ends the cutting, all that follows staying with the rest.
struct Piece {
  std::uint32_t begin = 0, end = 0, calendar = 0;  // calendar: its top-level component's index
  bool hasOverride = false;
  // Read from the text, for one that has nothing but DTSTART (and DTEND) to place it.
  bool plain = true;
  std::int32_t startDay = 0, fromDay = 0, toDay = 0;
};

enum class LineKind { Blank, Begin, End, Other, Doubtful };

struct Line {
  std::size_t begin = 0, end = 0;  // end: where the next line starts
  std::size_t stop = 0;            // the first line's end, less its CR
  bool folded = false;
  LineKind kind = LineKind::Blank;
  std::string name;  // upper case, when plain
};

bool Same(const char* a, std::size_t n, const char* upper) {
  for (std::size_t i = 0; i < n; ++i, ++upper) {
    if (*upper == '\0' || std::toupper(static_cast<unsigned char>(a[i])) != *upper) return false;
  }
  return *upper == '\0';
}

class LineReader {
 public:
  explicit LineReader(const std::string& text) : text_(text), lastNewline_(text.rfind('\n')) {}
  std::size_t lastNewline() const { return lastNewline_; }

  bool Next(Line* line) {
    if (at_ >= text_.size()) return false;
    *line = Line{};
    line->begin = at_;
    bool blank = true, inName = true, ended = false, plain = true;
    bool first = true;
    while (at_ < text_.size() && (first || text_[at_] == ' ' || text_[at_] == '\t')) {
      std::size_t stop = 0;
      const std::size_t end = LineEnd(text_, lastNewline_, at_, &stop);
      if (first) line->stop = stop;
      for (std::size_t i = first ? at_ : at_ + 1; i < stop && inName; ++i) {
        const char c = text_[i];
        if (c != ' ' && c != '\t') blank = false;
        if (c == ':' || c == ';') {
          inName = false, ended = true;
        } else if (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-') {
          if (line->name.size() < 24) line->name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        } else {
          plain = false;
        }
      }
      line->folded = !first;
      first = false;
      at_ = end + 1;
    }
    line->end = at_ < text_.size() ? at_ : text_.size();
    const bool marker = line->name == "BEGIN" || line->name == "END";
    if (blank && inName) {
      line->kind = LineKind::Blank;
    } else if (!plain || line->name.empty() || (marker && !ended)) {
      line->kind = LineKind::Doubtful;
    } else {
      line->kind = line->name == "BEGIN" ? LineKind::Begin : line->name == "END" ? LineKind::End : LineKind::Other;
    }
    return true;
  }

  // The whole line is just this text, in any case.
  bool Is(const Line& line, const char* upper) const {
    return !line.folded && Same(text_.data() + line.begin, line.stop - line.begin, upper);
  }

  // The line may name this component: folded, or holding its name anywhere, in any case.
  bool MayName(const Line& line, const char* upper) const {
    if (line.folded) return true;
    const std::size_t n = std::strlen(upper);
    for (std::size_t i = line.begin; i + n <= line.stop; ++i) {
      if (Same(text_.data() + i, n, upper)) return true;
    }
    return false;
  }

 private:
  const std::string& text_;
  std::size_t lastNewline_;
  std::size_t at_ = 0;
};

// A date or time as DTSTART or DTEND plainly gives it: "NAME;VALUE=DATE:YYYYMMDD" or
// "NAME[;TZID=zone]:YYYYMMDDTHHMMSS[Z]"; its day as written. Only years libical turns
// into seconds wherever time_t has 32 bits.
bool PlainDay(const std::string& text, const Line& line, long* day) {
  if (line.folded) return false;
  const char* at = text.data() + line.begin;
  const char* stop = text.data() + line.stop;
  const char* colon = static_cast<const char*>(std::memchr(at, ':', static_cast<std::size_t>(stop - at)));
  if (colon == nullptr) return false;
  const char* semicolon = static_cast<const char*>(std::memchr(at, ';', static_cast<std::size_t>(colon - at)));
  bool date = false;
  if (semicolon != nullptr) {
    const std::string_view parameter(semicolon + 1, static_cast<std::size_t>(colon - semicolon - 1));
    if (parameter == "VALUE=DATE") {
      date = true;
    } else if (parameter.substr(0, 5) != "TZID=" || parameter.size() == 5 ||
               parameter.find_first_of("\";,:") != std::string_view::npos) {
      return false;
    }
  }
  const std::string_view value(colon + 1, static_cast<std::size_t>(stop - colon - 1));
  const std::size_t size = value.size();
  if (date ? size != 8 : (size != 15 && size != 16) || value[8] != 'T' || (size == 16 && value[15] != 'Z')) return false;
  int digits[14] = {};
  for (std::size_t i = 0, n = 0; i < (date ? 8u : 15u); ++i) {
    if (i == 8) continue;
    if (std::isdigit(static_cast<unsigned char>(value[i])) == 0) return false;
    digits[n++] = value[i] - '0';
  }
  const auto two = [&digits](int i) { return digits[i] * 10 + digits[i + 1]; };
  const int year = two(0) * 100 + two(2), month = two(4), dayOfMonth = two(6);
  if (year < 1902 || year > 2036 || month < 1 || month > 12 || dayOfMonth < 1 || dayOfMonth > 31) return false;
  if (!date && (two(8) > 23 || two(10) > 59 || two(12) > 60)) return false;
  *day = DayNumber(year, month, dayOfMonth);
  return true;
}

// The events cut out of text, whose rest goes to *skeleton.
std::vector<Piece> Cut(const std::string& text, std::string* skeleton) {
  std::vector<Piece> pieces;
  LineReader reader(text);
  const std::size_t lastNewline = reader.lastNewline();
  Line line;
  int depth = 0;
  long top = -1;
  std::size_t kept = 0;  // the text before this is in the skeleton or a piece
  while (reader.Next(&line)) {
    if (line.kind == LineKind::Doubtful) break;
    if (line.kind == LineKind::End) {
      if (depth > 0) --depth;
      continue;
    }
    if (line.kind != LineKind::Begin) continue;
    // libical puts a top-level VTIMEZONE first among its fellows, so calendars are
    // counted only while every top-level part is surely one.
    if (depth == 0 && !reader.Is(line, "BEGIN:VCALENDAR")) break;
    if (depth == 0) ++top;
    if (depth != 1 || !reader.Is(line, "BEGIN:VEVENT")) {
      // Events left whole are expanded after the cut ones, so none may come before one:
      // an event libical reads where the cut sees none, or a calendar inside the
      // calendar, ends the cutting.
      if (depth == 1 && (reader.MayName(line, "VEVENT") || reader.MayName(line, "VCALENDAR"))) break;
      ++depth;
      continue;
    }
    Piece piece;
    piece.begin = static_cast<std::uint32_t>(line.begin);
    piece.calendar = static_cast<std::uint32_t>(top);
    int starts = 0, ends = 0, inner = 1;
    bool whole = false;
    while (!whole && reader.Next(&line)) {
      if (line.kind == LineKind::Doubtful) break;
      if (line.kind == LineKind::End) {
        whole = --inner == 0;
      } else if (line.kind == LineKind::Begin) {
        ++inner;
        // A zone inside the event is looked up before the calendar's.
        if (!reader.Is(line, "BEGIN:VALARM")) piece.plain = false;
      } else if (line.kind == LineKind::Other && inner == 1) {
        const std::string& name = line.name;
        if (name == "RECURRENCE-ID") piece.hasOverride = true;
        if (name == "RRULE" || name == "RDATE" || name == "RECURRENCE-ID" || name == "DURATION") piece.plain = false;
        long day = 0;
        if (name == "DTSTART") {
          if (++starts > 1 || !PlainDay(text, line, &day)) piece.plain = false;
          piece.startDay = static_cast<std::int32_t>(day);
        } else if (name == "DTEND") {
          if (++ends > 1 || !PlainDay(text, line, &day)) piece.plain = false;
          piece.toDay = static_cast<std::int32_t>(day);
        }
      }
    }
    if (!whole) break;
    piece.end = static_cast<std::uint32_t>(line.end);
    if (starts != 1) piece.plain = false;
    if (ends == 0) piece.toDay = piece.startDay;
    piece.fromDay = std::min(piece.startDay, piece.toDay);
    piece.toDay = std::max(piece.startDay, piece.toDay);
    // Lines end at CR only where no LF follows: a piece holding the last LF stays.
    if (lastNewline != std::string::npos && piece.end > lastNewline && piece.begin <= lastNewline) break;
    skeleton->append(text, kept, piece.begin - kept);
    kept = piece.end;
    pieces.push_back(piece);
  }
  skeleton->append(text, kept, std::string::npos);
  return pieces;
}

// Whether every zone an event at the top of root may find keeps its offsets within a day,
// so that no time moves more than two days with the user's own zone.
bool ZonesWithinADay(icalcomponent* root) {
  std::vector<icalcomponent*> holders{root};
  for (icalcomponent* c = icalcomponent_get_first_component(root, ICAL_ANY_COMPONENT); c != nullptr;
       c = icalcomponent_get_next_component(root, ICAL_ANY_COMPONENT)) {
    holders.push_back(c);
  }
  for (icalcomponent* holder : holders) {
    for (icalcomponent* zone = icalcomponent_get_first_component(holder, ICAL_VTIMEZONE_COMPONENT); zone != nullptr;
         zone = icalcomponent_get_next_component(holder, ICAL_VTIMEZONE_COMPONENT)) {
      for (icalcomponent* part = icalcomponent_get_first_component(zone, ICAL_ANY_COMPONENT); part != nullptr;
           part = icalcomponent_get_next_component(zone, ICAL_ANY_COMPONENT)) {
        for (icalproperty* p = icalcomponent_get_first_property(part, ICAL_ANY_PROPERTY); p != nullptr;
             p = icalcomponent_get_next_property(part, ICAL_ANY_PROPERTY)) {
          const icalproperty_kind kind = icalproperty_isa(p);
          int offset = 0;
          if (kind == ICAL_TZOFFSETTO_PROPERTY) offset = icalproperty_get_tzoffsetto(p);
          if (kind == ICAL_TZOFFSETFROM_PROPERTY) offset = icalproperty_get_tzoffsetfrom(p);
          if (offset <= -86400 || offset >= 86400) return false;
        }
      }
    }
  }
  return true;
}

bool Read(const std::string& icsText, int year, int month, std::uint32_t* days, DayNames* names, bool passOver) {
  *days = 0;
  if (names != nullptr) *names = {};
  if (!Acceptable(icsText) || month < 1 || month > 12 || year < 1900 || year > 9999) return false;
  icalerror_set_errors_are_fatal(0);
  PrepareZones();
  std::string skeleton;
  const std::vector<Piece> pieces = Cut(icsText, &skeleton);
  const std::unique_ptr<icalcomponent, ComponentFree> root(Parse(skeleton.data(), skeleton.data() + skeleton.size()));
  icalerror_clear_errno();
  if (!root) return false;
  std::string().swap(skeleton);
  Expansion expansion(year, month, days, names);

  std::vector<icalcomponent*> events;
  const auto collect = [&events](icalcomponent* calendar) {
    for (icalcomponent* c = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); c != nullptr;
         c = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
      events.push_back(c);
    }
    // Each zone an event uses costs its changes since the zone's start (Outlook's: 1601),
    // some 20 ms: beyond kMaxZones, events fall back to libical's zone of that name.
    std::vector<icalcomponent*> zones, beyond;
    for (icalcomponent* c = icalcomponent_get_first_component(calendar, ICAL_VTIMEZONE_COMPONENT); c != nullptr;
         c = icalcomponent_get_next_component(calendar, ICAL_VTIMEZONE_COMPONENT)) {
      (zones.size() < kMaxZones ? zones : beyond).push_back(c);
    }
    for (icalcomponent* c : zones) KeepYearlyChanges(c);
    for (icalcomponent* c : beyond) icalcomponent_remove_component(calendar, c), icalcomponent_free(c);
  };
  // Zones whose offsets reach a day or more could move a time past the margin below.
  passOver = passOver && ZonesWithinADay(root.get());
  if (icalcomponent_isa(root.get()) == ICAL_VEVENT_COMPONENT) events.push_back(root.get());
  collect(root.get());
  std::vector<icalcomponent*> tops;
  if (icalcomponent_isa(root.get()) != ICAL_XROOT_COMPONENT) tops.push_back(root.get());
  for (icalcomponent* c = icalcomponent_get_first_component(root.get(), ICAL_ANY_COMPONENT); c != nullptr;
       c = icalcomponent_get_next_component(root.get(), ICAL_ANY_COMPONENT)) {
    const bool zone = icalcomponent_isa(c) == ICAL_VTIMEZONE_COMPONENT;
    if (icalcomponent_isa(root.get()) == ICAL_XROOT_COMPONENT && !zone) tops.push_back(c);
    if (icalcomponent_isa(c) == ICAL_VCALENDAR_COMPONENT) collect(c);
  }

  // Each piece parsed inside its calendar, whose zones its times name; nullptr for one
  // whose calendar libical would not have kept (never ended).
  const auto parsed = [&icsText, &tops](const Piece& piece) -> icalcomponent* {
    if (piece.calendar >= tops.size() || icalcomponent_isa(tops[piece.calendar]) != ICAL_VCALENDAR_COMPONENT) return nullptr;
    icalcomponent* event = Parse(icsText.data() + piece.begin, icsText.data() + piece.end);
    icalerror_clear_errno();
    if (event != nullptr && icalcomponent_isa(event) != ICAL_VEVENT_COMPONENT) icalcomponent_free(event), event = nullptr;
    if (event != nullptr) icalcomponent_add_component(tops[piece.calendar], event);
    return event;
  };
  const auto done = [&tops](const Piece& piece, icalcomponent* event) {
    icalcomponent_remove_component(tops[piece.calendar], event);
    icalcomponent_free(event);
  };

  // A moved occurrence replaces its master's wherever either stands in the file.
  std::set<OverrideKey> overrides;
  const auto keep = [&overrides](icalcomponent* event) {
    const icaltimetype replaced = icalcomponent_get_recurrenceid(event);
    const char* uid = icalcomponent_get_uid(event);
    if (!icaltime_is_null_time(replaced) && uid != nullptr) overrides.insert({uid, static_cast<long>(Instant(replaced))});
  };
  for (icalcomponent* event : events) keep(event);
  for (const Piece& piece : pieces) {
    if (!piece.hasOverride) continue;
    if (icalcomponent* event = parsed(piece)) keep(event), done(piece, event);
  }

  // In the file's order, which gives a day its name and spends the budget: every event
  // left whole comes after the last one cut out.
  for (const Piece& piece : pieces) {
    // One that only DTSTART and DTEND place, both three days or more from the month,
    // marks nothing there: a zone moves a time by less than a day, the user's by less
    // than another. It still takes the step its one occurrence would.
    if (passOver && piece.plain && (piece.toDay < expansion.first() - 3 || piece.fromDay > expansion.last() + 3)) {
      if (piece.startDay <= expansion.last() + 1) expansion.Step();
      continue;
    }
    if (icalcomponent* event = parsed(piece)) ExpandEvent(event, expansion, overrides), done(piece, event);
  }
  for (icalcomponent* event : events) ExpandEvent(event, expansion, overrides);
  *days &= ~1u;
  return true;
}

}  // namespace

bool CalendarDays(const std::string& icsText, int year, int month, std::uint32_t* days, DayNames* names) {
  return Read(icsText, year, month, days, names, true);
}

bool CalendarDaysParsingEach(const std::string& icsText, int year, int month, std::uint32_t* days, DayNames* names) {
  return Read(icsText, year, month, days, names, false);
}

}  // namespace days
}  // namespace zorvani
