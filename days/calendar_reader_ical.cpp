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

bool Acceptable(const std::string& text) {
  if (text.size() > kMaxCalendarBytes || text.find('\0') != std::string::npos) return false;
  const std::size_t lastNewline = text.rfind('\n');
  int depth = 0, parameters = 0;
  std::string name;
  bool inName = true, inValue = false, quoted = false;
  const auto ended = [&] {
    std::string trimmed = name;
    for (char& c : trimmed) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const bool end = trimmed == "END";
    trimmed.erase(0, trimmed.find_first_not_of(" \t"));
    trimmed.erase(trimmed.find_last_not_of(" \t") + 1);
    if (trimmed == "BEGIN" && ++depth > kMaxNesting) return false;
    if (end && depth > 0) --depth;
    return parameters <= kMaxParameters;
  };
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = lastNewline != std::string::npos && at <= lastNewline ? text.find('\n', at) : text.find('\r', at);
    if (end == std::string::npos) end = text.size();
    std::size_t stop = end;
    if (stop > at && text[stop - 1] == '\r') --stop;
    std::size_t from = at;
    if (at > 0 && (text[at] == ' ' || text[at] == '\t')) {
      ++from;  // a fold: the same line goes on
    } else {
      if (at > 0 && !ended()) return false;
      name.clear(), parameters = 0, inName = true, inValue = false, quoted = false;
    }
    for (std::size_t i = from; i < stop && !inValue; ++i) {
      const char c = text[i];
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

icalcomponent* Parse(const std::string& text) {
  Lines lines{text.data(), text.data() + text.size()};
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
    if (icalproperty_recurrence_is_excluded(event, const_cast<icaltimetype*>(&start), &occurrence)) continue;
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
    if (icalproperty_recurrence_is_excluded(event, const_cast<icaltimetype*>(&start), &occurrence)) continue;
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

}  // namespace

bool CalendarDays(const std::string& icsText, int year, int month, std::uint32_t* days, DayNames* names) {
  *days = 0;
  if (names != nullptr) *names = {};
  if (!Acceptable(icsText) || month < 1 || month > 12 || year < 1900 || year > 9999) return false;
  icalerror_set_errors_are_fatal(0);
  PrepareZones();
  const std::unique_ptr<icalcomponent, ComponentFree> root(Parse(icsText));
  icalerror_clear_errno();
  if (!root) return false;
  Expansion expansion(year, month, days, names);

  std::set<icalcomponent*> events;
  const auto collect = [&events](icalcomponent* calendar) {
    for (icalcomponent* c = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); c != nullptr;
         c = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
      events.insert(c);
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
  if (icalcomponent_isa(root.get()) == ICAL_VEVENT_COMPONENT) events.insert(root.get());
  collect(root.get());
  for (icalcomponent* c = icalcomponent_get_first_component(root.get(), ICAL_VCALENDAR_COMPONENT); c != nullptr;
       c = icalcomponent_get_next_component(root.get(), ICAL_VCALENDAR_COMPONENT)) {
    collect(c);
  }

  std::set<OverrideKey> overrides;
  for (icalcomponent* event : events) {
    const icaltimetype replaced = icalcomponent_get_recurrenceid(event);
    const char* uid = icalcomponent_get_uid(event);
    if (!icaltime_is_null_time(replaced) && uid != nullptr) overrides.insert({uid, static_cast<long>(Instant(replaced))});
  }
  for (icalcomponent* event : events) ExpandEvent(event, expansion, overrides);
  *days &= ~1u;
  return true;
}

}  // namespace days
}  // namespace zorvani
