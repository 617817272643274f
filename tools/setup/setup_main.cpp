// zorvani-wallpaper-setup: makes a working calendar for this user (or, with --system,
// one for every user of the machine) and, with --remove, takes it away again.
//
// The calendar folder holds a link to the installed program, WP.ini, the month pictures
// and, once the program has run, wp.bmp. The auto-start value names the link, so the
// program finds its pictures (BaseDir) and WP.ini (its own folder) in that one folder,
// while a package upgrade replaces the file the link points at. What set-up made is
// listed in the folder's .zorvani-setup, so --remove takes exactly that away and keeps
// pictures a user added.
//
// The machine's calendar is not written to by anyone: in a folder where every user may
// write, one user could plant a link named wp.bmp and have another user's program write
// through it. Instead the machine's log-on entry runs --session, which gives each user a
// folder of their own whose year folders and WP.ini link to the machine's.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/reg_files/hive_location.h"
#include "platform/posix/reg_files/reg_file.h"
#include "platform/replace_file.h"
#include "tools/calendar/month_picture.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: zorvani-wallpaper-setup [--system] [--pictures DIR] [--program FILE] [--no-autostart]\n"
    "       zorvani-wallpaper-setup [--system] --remove\n"
    "       zorvani-wallpaper-setup --session\n"
    "Sets up a calendar folder with this and next year's sample pictures (or the Zorvani<year>\n"
    "folders and WP.ini of DIR), the registry values the program reads and a log-on entry.\n"
    "--system sets up one calendar for every user of the machine (as root); at log-on the\n"
    "machine's entry runs --session, which links the user's folder to it and starts the program.\n";

const char kRunKey[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunValue[] = "ZorvaniWallPaper";
const char kDesktopKey[] = "HKEY_CURRENT_USER\\Control Panel\\Desktop";
const char kHiveHeader[] = "Windows Registry Editor Version 5.00\n";
const char kMadeList[] = ".zorvani-setup";
const char kEntryName[] = "zorvani-wallpaper.desktop";
const char kSystemFolder[] = "/var/lib/zorvani-wallpaper";

std::string Env(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

struct Places {
  bool system = false;
  fs::path folder;
  fs::path runHive;
  fs::path desktopHive;  // empty for --system: each user's own file is not ours to make
  fs::path entry;        // empty for --system and --session: the package ships the machine's entry
  fs::path link() const { return folder / "zorvani-wallpaper"; }
};

Places PlacesFor(bool system) {
  Places places;
  places.system = system;
  if (system) {
    places.folder = kSystemFolder;
    places.runHive = platform::MachineHiveFile("HKEY_LOCAL_MACHINE");
    return places;
  }
  const std::string home = Env("HOME", "");
  places.folder = fs::path(Env("XDG_DATA_HOME", home + "/.local/share")) / "zorvani-wallpaper";
  places.runHive = platform::UserHiveFile("HKEY_LOCAL_MACHINE");
  places.desktopHive = platform::UserHiveFile("HKEY_CURRENT_USER");
  places.entry = fs::path(Env("XDG_CONFIG_HOME", home + "/.config")) / "autostart" / kEntryName;
  return places;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Replaced whole, so a reader never sees half a file.
void ReplaceFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::string error;
  if (!platform::ReplaceFileWith(path.string(), text, &error)) throw std::runtime_error(error);
}

// "made" when the file was written, "unchanged" when it already held the text.
const char* Ensure(const fs::path& path, const std::string& text) {
  if (fs::exists(path) && ReadFile(path) == text) return "unchanged";
  ReplaceFile(path, text);
  return "made";
}

// The Run value as Windows keeps it: a path with spaces in quotes.
std::string CommandLineOf(const fs::path& program) {
  const std::string path = program.string();
  return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
}

// A desktop entry's Exec argument, quoted as the desktop entry rules ask.
std::string ExecArgument(const fs::path& program) {
  const std::string path = program.string();
  if (path.find_first_of(" \t\"'\\><~|&;$*?#()`=%") == std::string::npos) return path;
  std::string quoted = "\"";
  for (const char c : path) {
    // Escaped once for Exec's quoting, then every backslash once more for the string value.
    if (c == '\\') quoted += "\\\\\\";
    else if (c == '"' || c == '`' || c == '$') quoted += "\\\\";
    if (c == '%') quoted += '%';
    quoted += c;
  }
  return quoted + "\"";
}

std::string RunHiveText(const std::string& existing, const fs::path& program) {
  platform::RegFile hive(existing.empty() ? kHiveHeader : existing);
  if (!hive.HasKey(kRunKey)) hive.AddSection(kRunKey);
  const std::string line = CommandLineOf(program);
  platform::RegValue value;
  value.type = 1;  // REG_SZ, stored with its NUL
  value.data.assign(line.begin(), line.end());
  value.data.push_back(0);
  hive.SetValue(kRunKey, kRunValue, value);
  return hive.Text();
}

std::string EntryText(const fs::path& program) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Zorvani Wallpaper\n"
         "Comment=Frames today on this month's calendar picture and makes it the wallpaper\n"
         "Exec=" + ExecArgument(program) + "\n"
         "TryExec=" + program.string() + "\n"
         "Terminal=false\n"
         "NoDisplay=true\n"
         "X-GNOME-Autostart-enabled=true\n";
}

class MadeList {
 public:
  explicit MadeList(const fs::path& folder) : file_(folder / kMadeList) {
    std::ifstream in(file_);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty()) names_.insert(line);
    }
  }
  void Add(const std::string& name) { changed_ = names_.insert(name).second || changed_; }
  const std::set<std::string>& names() const { return names_; }
  void Save() const {
    if (!changed_) return;
    std::string text;
    for (const std::string& name : names_) text += name + "\n";
    ReplaceFile(file_, text);
  }

 private:
  fs::path file_;
  std::set<std::string> names_;
  bool changed_ = false;
};

void Say(const char* what, const fs::path& where, const std::string& note) {
  std::printf("%-18s %s%s\n", what, where.c_str(), note.empty() ? "" : ("  (" + note + ")").c_str());
}

// Makes this year's and next year's sample pictures, or copies the user's own.
void PlacePictures(const Places& places, const std::string& pictures, MadeList& made) {
  const fs::path ini = places.folder / "WP.ini";
  const bool hadIni = fs::exists(ini);
  if (!pictures.empty()) {
    for (const auto& entry : fs::directory_iterator(pictures)) {
      const std::string name = entry.path().filename().string();
      if (!entry.is_directory() || name.rfind("Zorvani", 0) != 0) continue;
      int copied = 0;
      for (const auto& picture : fs::directory_iterator(entry.path())) {
        const fs::path target = places.folder / name / picture.path().filename();
        if (!picture.is_regular_file() || fs::exists(target)) continue;
        fs::create_directories(target.parent_path());
        fs::copy_file(picture.path(), target);
        made.Add(name + "/" + picture.path().filename().string());
        ++copied;
      }
      Say("Pictures:", places.folder / name, copied > 0 ? std::to_string(copied) + " copied" : "unchanged");
    }
    if (!hadIni && fs::exists(fs::path(pictures) / "WP.ini")) fs::copy_file(fs::path(pictures) / "WP.ini", ini);
  } else {
    const std::time_t now = std::time(nullptr);
    const int year = std::localtime(&now)->tm_year + 1900;
    const std::string keptIni = hadIni ? ReadFile(ini) : std::string();
    bool madeAny = false;
    for (const int y : {year, year + 1}) {
      const std::string name = "Zorvani" + std::to_string(y);
      if (fs::exists(places.folder / name)) {
        Say("Pictures:", places.folder / name, "unchanged");
        continue;
      }
      zorvani::tools::WriteCalendar(places.folder.string(), y, 1280, 800, 92);
      madeAny = true;
      for (int month = 1; month <= 12; ++month) made.Add(name + "/" + std::to_string(month) + ".jpg");
      Say("Pictures:", places.folder / name, "sample calendar made");
    }
    if (hadIni && madeAny) ReplaceFile(ini, keptIni);  // the user's frame colour stays
  }
  if (!fs::exists(ini)) ReplaceFile(ini, zorvani::tools::WpIniText(zorvani::tools::GridGeometry()));
  if (!hadIni) made.Add("WP.ini");
  Say("Settings:", ini, hadIni ? "unchanged" : "made");
}

// The user's folder shows the machine's year folders and WP.ini through links, so
// pictures the administrator adds later show at the next log-on.
void LinkMachinePictures(const Places& places, MadeList& made) {
  for (const auto& entry : fs::directory_iterator(kSystemFolder)) {
    const std::string name = entry.path().filename().string();
    const bool shared = name == "WP.ini" || (entry.is_directory() && name.rfind("Zorvani", 0) == 0);
    const fs::path link = places.folder / name;
    if (!shared || fs::exists(fs::symlink_status(link))) continue;
    fs::create_symlink(entry.path(), link);
    made.Add(name);
    Say(name == "WP.ini" ? "Settings:" : "Pictures:", link, "links to " + entry.path().string());
  }
}

const char* PlaceLink(const fs::path& link, const fs::path& program) {
  std::error_code error;
  if (fs::is_symlink(link) && fs::read_symlink(link, error) == program) return "unchanged";
  // A copy left by an earlier set-up would go stale at the next upgrade: replace it.
  std::string problem;
  if (!platform::ReplaceWithLink(link.string(), program.string(), &problem)) throw std::runtime_error(problem);
  return "made";
}

int SetUp(const Places& places, const std::string& pictures, fs::path program, bool autostart, bool session) {
  if (!fs::is_regular_file(program)) {
    std::fprintf(stderr, "zorvani-wallpaper-setup: no program at %s (give it with --program)\n", program.c_str());
    return 1;
  }
  program = fs::absolute(program).lexically_normal();
  fs::create_directories(places.folder);
  Say("Calendar folder:", places.folder, "");
  MadeList made(places.folder);
  if (session) {
    LinkMachinePictures(places, made);
  } else {
    PlacePictures(places, pictures, made);
  }
  Say("Program:", places.link(), std::string(PlaceLink(places.link(), program)) + ", links to " + program.string());
  made.Add("zorvani-wallpaper");
  made.Save();

  Say("Auto-start value:", places.runHive, Ensure(places.runHive, RunHiveText(ReadFile(places.runHive), places.link())));
  if (!places.desktopHive.empty()) {
    // The program writes its desktop values only into a key that exists.
    const std::string text = ReadFile(places.desktopHive);
    platform::RegFile hive(text.empty() ? kHiveHeader : text);
    if (!hive.HasKey(kDesktopKey)) hive.AddSection(kDesktopKey);
    Say("Desktop key:", places.desktopHive, Ensure(places.desktopHive, hive.Text()));
  }
  if (!places.entry.empty() && autostart) Say("Log-on entry:", places.entry, Ensure(places.entry, EntryText(places.link())));
  if (places.system) {
    Say("Log-on entry:", "/etc/xdg/autostart/zorvani-wallpaper.desktop", "from the package");
    std::printf("At log-on each user without a calendar of their own gets one that shows these pictures.\n");
  } else {
    std::printf("The wallpaper is written to %s %s.\n", (places.folder / "wp.bmp").c_str(),
                autostart ? "at every log-on and every new day" : "whenever the program runs");
  }
  return 0;
}

// True when the hive holds nothing but what set-up and the program put there.
bool OnlyOurs(const std::string& text, const std::vector<std::string>& ours) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string lower = line;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    const bool known = lower.empty() || std::any_of(ours.begin(), ours.end(), [&](const std::string& prefix) {
                         return lower.rfind(prefix, 0) == 0;
                       });
    if (!known) return false;
    start = end + 1;
  }
  return true;
}

void RemoveHive(const char* what, const fs::path& hive, const std::vector<std::string>& ours) {
  if (!fs::exists(hive)) return;
  if (!OnlyOurs(ReadFile(hive), ours)) {
    Say(what, hive, "kept: it holds other values");
    return;
  }
  fs::remove(hive);
  Say(what, hive, "removed");
  std::error_code ignored;
  fs::remove(hive.parent_path(), ignored);  // only when empty
}

int Remove(const Places& places) {
  if (!places.entry.empty() && fs::exists(places.entry) &&
      ReadFile(places.entry).find("Exec=" + ExecArgument(places.link()) + "\n") != std::string::npos) {
    fs::remove(places.entry);
    Say("Log-on entry:", places.entry, "removed");
    std::error_code ignored;
    fs::remove(places.entry.parent_path(), ignored);  // only when empty
  }
  RemoveHive("Auto-start value:", places.runHive,
             {"windows registry editor", "[hkey_local_machine\\software\\microsoft\\windows\\currentversion\\run]",
              "\"zorvaniwallpaper\"="});
  if (!places.desktopHive.empty()) {
    RemoveHive("Desktop key:", places.desktopHive,
               {"windows registry editor", "[hkey_current_user\\control panel\\desktop]", "\"tilewallpaper\"=",
                "\"wallpaperstyle\"=", "\"wallpaper\"="});
  }
  if (!fs::exists(places.folder)) return 0;
  const MadeList made(places.folder);
  std::set<fs::path> folders;
  for (const std::string& name : made.names()) {
    const fs::path path = places.folder / name;
    if (path.lexically_normal().string().rfind(places.folder.string() + "/", 0) != 0) continue;  // a doctored list
    fs::remove(path);
    if (path.parent_path() != places.folder) folders.insert(path.parent_path());
  }
  // The program's output: wp.bmp and the copies some desktops are handed instead.
  for (const char* name : {"wp.bmp", "wp-a.bmp", "wp-b.bmp", "wp.png", "wp-a.png", "wp-b.png", kMadeList}) {
    fs::remove(places.folder / name);
  }
  std::error_code ignored;
  for (const fs::path& folder : folders) fs::remove(folder, ignored);  // only when empty: added pictures stay
  fs::remove(places.folder, ignored);
  Say("Calendar folder:", places.folder, fs::exists(places.folder) ? "kept with the pictures you added" : "removed");
  return 0;
}

fs::path DefaultProgram() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path("/usr/bin/zorvani-wallpaper") : self.parent_path() / "zorvani-wallpaper";
}

}  // namespace

int main(int argc, char** argv) {
  bool system = false;
  bool remove = false;
  bool session = false;
  bool autostart = true;
  std::string pictures;
  fs::path program = DefaultProgram();
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    const bool hasValue = i + 1 < argc;
    if (option == "--system") {
      system = true;
    } else if (option == "--remove") {
      remove = true;
    } else if (option == "--session") {
      session = true;
    } else if (option == "--no-autostart") {
      autostart = false;
    } else if (option == "--pictures" && hasValue) {
      pictures = argv[++i];
    } else if (option == "--program" && hasValue) {
      program = argv[++i];
    } else {
      std::fputs(kUsage, option == "--help" ? stdout : stderr);
      return option == "--help" ? 0 : 2;
    }
  }
  if (!pictures.empty() && !fs::is_directory(pictures)) {
    std::fprintf(stderr, "zorvani-wallpaper-setup: %s is no folder\n", pictures.c_str());
    return 2;
  }
  if (session && (system || remove || !pictures.empty() || !fs::is_directory(kSystemFolder))) {
    std::fprintf(stderr, "zorvani-wallpaper-setup: --session takes no other option and needs the machine's calendar\n");
    return 2;
  }
  try {
    Places places = PlacesFor(system);
    if (remove) return Remove(places);
    if (session) places.entry.clear();
    const int status = SetUp(places, pictures, program, autostart, session);
    if (status != 0 || !session) return status;
    std::fflush(stdout);
    const std::string link = places.link().string();
    execl(link.c_str(), link.c_str(), static_cast<char*>(nullptr));
    std::fprintf(stderr, "zorvani-wallpaper-setup: cannot start %s\n", link.c_str());
    return 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "zorvani-wallpaper-setup: %s\n", error.what());
    return 1;
  }
}
