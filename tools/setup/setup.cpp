#include "tools/setup/setup.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/posix/reg_files/hive_location.h"
#include "platform/posix/reg_files/reg_file.h"
#include "tools/calendar/month_picture.h"

namespace zorvani {
namespace setup {

namespace fs = std::filesystem;

namespace {

const char kRunKey[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunValue[] = "ZorvaniWallPaper";
const char kDesktopKey[] = "HKEY_CURRENT_USER\\Control Panel\\Desktop";
const char kHiveHeader[] = "Windows Registry Editor Version 5.00\n";
const char kMadeList[] = ".zorvani-setup";
const char kEntryName[] = "zorvani-wallpaper.desktop";

std::string Env(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// "made" when the file was written, "unchanged" when it already held the text.
const char* Ensure(const fs::path& path, const std::string& text) {
  if (fs::exists(path) && ReadFile(path) == text) return "unchanged";
  ReplaceFile(path, text);
  return "made";
}

std::string RunHiveText(const std::string& existing, const fs::path& program) {
  platform::RegFile hive(existing.empty() ? kHiveHeader : existing);
  if (!hive.HasKey(kRunKey)) hive.AddSection(kRunKey);
  const std::string line = RunValueOf(program);
  platform::RegValue value;
  value.type = 1;  // REG_SZ, stored with its NUL
  value.data.assign(line.begin(), line.end());
  value.data.push_back(0);
  hive.SetValue(kRunKey, kRunValue, value);
  return hive.Text();
}

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
  for (const auto& entry : fs::directory_iterator(places.machineFolder)) {
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
  const fs::path temporary = link.parent_path() / ".zorvani-wallpaper.new";
  fs::remove(temporary);
  fs::create_symlink(program, temporary);
  fs::rename(temporary, link);
  return "made";
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

}  // namespace

Places PlacesFor(bool system) {
  Places places;
  places.system = system;
  if (system) {
    places.folder = places.machineFolder;
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

std::string RunValueOf(const fs::path& program) {
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

void ReplaceFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  const fs::path temporary = path.parent_path() / ("." + path.filename().string() + ".new");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write " + temporary.string());
  }
  fs::rename(temporary, path);
}

MadeList::MadeList(const fs::path& folder) : file_(folder / kMadeList) {
  std::ifstream in(file_);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) names_.insert(line);
  }
}

void MadeList::Save() const {
  if (!changed_) return;
  std::string text;
  for (const std::string& name : names_) text += name + "\n";
  ReplaceFile(file_, text);
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

int SetUp(const Places& places, const Request& request) {
  if (!fs::is_regular_file(request.program)) {
    std::fprintf(stderr, "zorvani-wallpaper-setup: no program at %s (give it with --program)\n", request.program.c_str());
    return 1;
  }
  const fs::path program = fs::absolute(request.program).lexically_normal();
  fs::create_directories(places.folder);
  Say("Calendar folder:", places.folder, "");
  MadeList made(places.folder);
  if (request.session) {
    LinkMachinePictures(places, made);
  } else {
    PlacePictures(places, request.pictures, made);
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
  if (!places.entry.empty() && request.autostart) Say("Log-on entry:", places.entry, Ensure(places.entry, EntryText(places.link())));
  if (places.system) {
    Say("Log-on entry:", "/etc/xdg/autostart/zorvani-wallpaper.desktop", "from the package");
    std::printf("At log-on each user without a calendar of their own gets one that shows these pictures.\n");
  } else {
    std::printf("The wallpaper is written to %s %s.\n", (places.folder / "wp.bmp").c_str(),
                request.autostart ? "at every log-on and every new day" : "whenever the program runs");
  }
  return 0;
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

}  // namespace setup
}  // namespace zorvani
