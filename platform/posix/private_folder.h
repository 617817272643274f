#pragma once
// The program's private folder for one user: where the single-instance lock lives and
// where tools that read a command language of their own find the wallpaper under a
// name that can only be read as a path. Nobody else can put anything there.
#include <string>

namespace platform {
namespace posix {

// runtimeDir/zorvani-wallpaper when runtimeDir (XDG_RUNTIME_DIR) is an absolute path;
// otherwise tmpDir (TMPDIR, /tmp when not absolute)/zorvani-wallpaper-<uid>.
std::string PrivateFolderPath(const std::string& runtimeDir, const std::string& tmpDir);

// Makes the folder (mode 0700) when it is missing and opens it without following a
// link. -1 unless it is a folder owned by this user that no one else can reach, and
// no one else can rename it away (its parent is ours or root's, and sticky where others
// may write). The descriptor is close-on-exec; the caller closes it.
int OpenPrivateFolder(const std::string& path);

// True when every byte is a letter, digit, '/', '.', '_' or '-': text that a shell-like
// word expansion and a command splitter leave as it is.
bool PlainPathText(const std::string& text);

}  // namespace posix
}  // namespace platform
