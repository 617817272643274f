#pragma once
// zorvani-wallpaper-setup's work: where a calendar goes, the texts that name it, making
// it and taking it away again. The command line lives in setup_main.cpp.
//
// The calendar folder holds a link to the installed program, WP.ini, the month pictures
// and, once the program has run, wp.bmp. The auto-start value names the link, so the
// program finds its pictures (BaseDir) and WP.ini (its own folder) in that one folder,
// while a package upgrade replaces the file the link points at. What set-up made is
// listed in the folder's .zorvani-setup, so removal takes exactly that away and keeps
// pictures a user added.
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

namespace zorvani {
namespace setup {

struct Places {
  bool system = false;
  std::filesystem::path folder;
  std::filesystem::path runHive;
  std::filesystem::path desktopHive;  // empty for --system: each user's own file is not ours to make
  std::filesystem::path entry;        // empty for --system and --session: the package ships the machine's entry
  std::filesystem::path machineFolder = "/var/lib/zorvani-wallpaper";  // what --session links to
  // Where a user's --remove notes that they declined the machine's calendar, which
  // --session then leaves alone at every log-on; empty for --system.
  std::filesystem::path declined;
  std::filesystem::path link() const { return folder / "zorvani-wallpaper"; }
};

// The places for this user, or with system for the machine, from the environment.
Places PlacesFor(bool system);

struct Request {
  std::string pictures;  // a folder with Zorvani<year> folders and WP.ini; empty for the sample pictures
  std::filesystem::path program;
  bool autostart = true;
  bool session = false;  // link the machine's pictures instead of placing any
  // The sample pictures' size: the primary screen's, or the most common screen's.
  int width = 1920, height = 1080;
  // The set-up command the user's log-on entry runs with --logon, which keeps the sample
  // calendar a year ahead and then starts the program; empty: the entry starts the program.
  std::filesystem::path setup;
  // --lock-screen: whether the program shows the calendar on the lock screen too; none
  // leaves the user's choice as it was (off until made).
  std::optional<bool> lockScreen;
};

// A path that a text set-up writes cannot hold so that its reader gets the same path back.
class Unrepresentable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The Run value as Windows keeps it: a path with spaces in quotes. The program takes a
// quoted value up to the next quote, any other whole (app/instance_checker.cpp).
std::string RunValueOf(const std::filesystem::path& program);
// A desktop entry's Exec argument, quoted and escaped as the Desktop Entry rules ask.
std::string ExecArgument(const std::filesystem::path& program);
// With setup, the entry runs "setup --logon program" instead of the program.
std::string EntryText(const std::filesystem::path& program, const std::filesystem::path& setup = {});

// Every file set-up writes goes through here, to the product's one replace routine
// (platform/replace_file.h), so a reader never sees half a file.
void ReplaceFile(const std::filesystem::path& path, const std::string& bytes);

// The folder's .zorvani-setup: one name relative to the folder per line, and a line
// "Zorvani<year>/" for each year folder set-up made as a sample calendar.
class MadeList {
 public:
  explicit MadeList(const std::filesystem::path& folder);
  void Add(const std::string& name) { changed_ = names_.insert(name).second || changed_; }
  void AddSample(const std::string& year) { changed_ = samples_.insert(year).second || changed_; }
  const std::set<std::string>& names() const { return names_; }
  bool IsSample(const std::string& year) const { return samples_.count(year) != 0; }
  // Set-up placed pictures of its own here (samples or copies): --session only links.
  bool PlacedPictures() const;
  void Save() const;

 private:
  std::filesystem::path file_;
  std::set<std::string> names_, samples_;
  bool changed_ = false;
};

// Both print each place and return the command's exit status. A user's own set-up takes
// back an earlier refusal of the machine's calendar; a user's removal, where there is a
// machine's calendar, records one.
int SetUp(const Places& places, const Request& request);
int Remove(const Places& places);
// True when this user declined the machine's calendar: their --remove refused it, or their
// own set-up made a calendar of their own, which takes precedence whether it starts at
// log-on or not.
bool MachineCalendarDeclined(const Places& places);
// True when only the first: their --remove refused it.
bool MachineCalendarRefused(const Places& places);

// At log-on: when every year folder in the folder is set-up's own sample calendar and the
// user may write there, makes the sample years among this year and the next that are
// missing, at the size size() gives. A calendar of the user's own is left as it is.
void AtLogOn(const std::filesystem::path& folder, const std::function<std::pair<int, int>()>& size);

// The calendar source lists (days/days.h): this user's, in their HKEY_CURRENT_USER.reg,
// kept mode 0600 since a published calendar's address is a secret; with system, the
// machine's, in the machine's HKEY_LOCAL_MACHINE.reg, which every user may read.
// AddSource takes "holidays|events [#RRGGBB] FILE-OR-ADDRESS" (a file made absolute);
// RemoveSource a number as ListSources prints it, or the location. Exit statuses.
int AddSource(bool system, const std::string& text);
int ListSources(bool system);
int RemoveSource(bool system, const std::string& which);

// Starts the program in a session of its own, standard streams on /dev/null and its
// parent gone, so that it outlives the terminal set-up ran in. False, with the reason,
// when it could not be started.
bool StartDetached(const std::filesystem::path& program, std::string* problem);

}  // namespace setup
}  // namespace zorvani
