// The wallpaper change on Windows: SystemParametersInfoA stores the path in the
// user's profile and tells every window of the change.
//
// The wallpaper shown before the program's first change is kept under
// HKEY_CURRENT_USER\Software\ZorvaniWallpaper (values Wallpaper, WallpaperStyle and
// TileWallpaper, the last two only when the desktop had them) until the program is
// removed and gives it back. A user whose calendar folder's wp.bmp belongs to someone
// else gets %LOCALAPPDATA%\ZorvaniWallpaper\wp.bmp.
//
// Monitors of different shapes: Windows 8 and later span one picture over the whole
// virtual screen (style 22) with each monitor's region fitted to it, wp-span.bmp beside
// wp.bmp; Windows 7 cannot place a picture per monitor and keeps the stretched wp.bmp.
#include <windows.h>
#include <shlobj.h>
#include <versionhelpers.h>

#include <optional>
#include <vector>

#include "platform/replace_file.h"
#include "platform/wallpaper.h"

namespace platform {
namespace {

const char kKeptKey[] = "Software\\ZorvaniWallpaper";
const char kDesktopKey[] = "Control Panel\\Desktop";
const char* const kStyleValues[] = {"WallpaperStyle", "TileWallpaper"};

std::optional<std::string> ReadString(HKEY root, const char* subKey, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, subKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0, size = 0;
  std::optional<std::string> text;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
    std::vector<char> buffer(size + 1, '\0');
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) == ERROR_SUCCESS)
      text = std::string(buffer.data());  // up to the first NUL, whether the data held one or not
  }
  RegCloseKey(key);
  return text;
}

// Sets the value, or deletes it for nullopt.
void WriteString(HKEY key, const char* name, const std::optional<std::string>& text) {
  if (!text) {
    RegDeleteValueA(key, name);
    return;
  }
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text->c_str()),
                 static_cast<DWORD>(text->size() + 1));
}

std::string ShownWallpaper() {
  char path[MAX_PATH + 1] = {};
  return ::SystemParametersInfoA(SPI_GETDESKWALLPAPER, MAX_PATH, path, 0) ? std::string(path) : std::string();
}

bool SamePath(const std::string& a, const std::string& b) {
  return !a.empty() && !b.empty() && lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

// %LOCALAPPDATA%\ZorvaniWallpaper\, whether it exists or not.
std::string OwnFolder() {
  char base[MAX_PATH] = {};
  if (SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base) != S_OK || base[0] == '\0')
    return {};
  return std::string(base) + "\\ZorvaniWallpaper\\";
}

class WindowsDesktop : public Desktop {
 public:
  bool SystemParametersInfoA(std::uint32_t action, std::uint32_t param, const std::string& path,
                             std::uint32_t flags) override {
    // The call takes a writable buffer, so hand it a copy.
    std::vector<char> text(path.begin(), path.end());
    text.push_back('\0');
    return ::SystemParametersInfoA(action, param, text.data(), flags) != FALSE;
  }

  MonitorPictures MonitorPicturesTaken() override {
    return IsWindows8OrGreater() ? MonitorPictures::Spanned : MonitorPictures::None;
  }

  // The picture's top-left is the virtual screen's (SM_XVIRTUALSCREEN, SM_YVIRTUALSCREEN),
  // the bounding box of the monitors, as the picture was composed.
  bool SetSpannedWallpaper(const std::string& path) override {
    HKEY desktop = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_SET_VALUE, &desktop) != ERROR_SUCCESS) return false;
    WriteString(desktop, "WallpaperStyle", std::string("22"));
    WriteString(desktop, "TileWallpaper", std::string("0"));
    RegCloseKey(desktop);
    return SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, path, SPIF_UPDATEINIFILE | SPIF_SENDWININICHANGE);
  }

  std::string UserBitmapFolder() override {
    const std::string folder = OwnFolder();
    if (folder.empty()) return {};
    const std::string path = folder.substr(0, folder.size() - 1);
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return {};
    // A link or junction in its place would send this user's bitmap somewhere else.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return {};
    }
    return folder;
  }

  void RecordPreviousWallpaper(const std::string& calendarBitmap) override {
    if (ReadString(HKEY_CURRENT_USER, kKeptKey, "Wallpaper")) return;
    HKEY kept = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kKeptKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &kept, nullptr) !=
        ERROR_SUCCESS) {
      return;
    }
    std::string shown = ShownWallpaper();
    if (IsOurs(shown, calendarBitmap)) shown.clear();
    for (const char* name : kStyleValues) {
      if (const auto value = ReadString(HKEY_CURRENT_USER, kDesktopKey, name)) WriteString(kept, name, value);
    }
    WriteString(kept, "Wallpaper", shown);  // last: its presence says the record is whole
    RegCloseKey(kept);
  }

  void RestorePreviousWallpaper(const std::string& calendarBitmap) override {
    const auto previous = ReadString(HKEY_CURRENT_USER, kKeptKey, "Wallpaper");
    if (previous && IsOurs(ShownWallpaper(), calendarBitmap)) {
      HKEY desktop = nullptr;
      if (RegOpenKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_SET_VALUE, &desktop) == ERROR_SUCCESS) {
        for (const char* name : kStyleValues) WriteString(desktop, name, ReadString(HKEY_CURRENT_USER, kKeptKey, name));
        RegCloseKey(desktop);
      }
      SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, *previous, SPIF_UPDATEINIFILE | SPIF_SENDWININICHANGE);
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, kKeptKey);

    const std::string folder = OwnFolder();
    if (folder.empty()) return;
    for (const char* name : {"wp.bmp", "wp-span.bmp"}) {
      RemoveLeftTemporaries(SystemFiles(), folder + name);
      DeleteFileA((folder + name).c_str());
    }
    RemoveDirectoryA(folder.substr(0, folder.size() - 1).c_str());  // only when nothing else is in it
  }

 private:
  static bool IsOurs(const std::string& shown, const std::string& calendarBitmap) {
    const std::string own = OwnFolder();
    const std::string calendarFolder = calendarBitmap.substr(0, calendarBitmap.find_last_of("\\/") + 1);
    return SamePath(shown, calendarBitmap) || SamePath(shown, calendarFolder + "wp-span.bmp") ||
           (!own.empty() && (SamePath(shown, own + "wp.bmp") || SamePath(shown, own + "wp-span.bmp")));
  }
};

}  // namespace

Desktop& SystemDesktop() {
  static WindowsDesktop desktop;
  return desktop;
}

}  // namespace platform
