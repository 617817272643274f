#include <windows.h>

#include "platform/process.h"

namespace platform {

char PathSeparator() { return '\\'; }

bool PreviousInstanceRunning() {
  // Held for the life of the process; the system closes it however the process ends.
  // "Local\" keeps the claim per log-on session, as the program runs per user.
  static HANDLE instanceMutex = nullptr;
  if (instanceMutex != nullptr) return false;
  HANDLE mutex = CreateMutexA(nullptr, FALSE, "Local\\ZorvaniWallpaper");
  const DWORD error = GetLastError();
  if (mutex == nullptr) return error == ERROR_ACCESS_DENIED;  // held by another instance of another account
  if (error == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return true;
  }
  instanceMutex = mutex;
  return false;
}

void EndProgramNow(int status) { ExitProcess(static_cast<UINT>(status)); }

void PrintToStandardOutput(const std::string& text) {
  std::string lines;
  for (char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  DWORD written = 0;
  // Redirected to a file or a pipe, the handle is there; typed at a prompt, a GUI
  // program has to borrow the console of the command that started it.
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN) {
    WriteFile(out, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
    return;
  }
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  HANDLE console = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (console != INVALID_HANDLE_VALUE) {
    WriteFile(console, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
    CloseHandle(console);
  }
  FreeConsole();
}

void ReportFatalError(const std::string& caption, const std::string& text) {
  // Started by Explorer or at log-on a GUI program has no standard error; under a test
  // runner or a terminal it has one, and a message box there would block.
  HANDLE standardError = GetStdHandle(STD_ERROR_HANDLE);
  if (standardError != nullptr && standardError != INVALID_HANDLE_VALUE &&
      GetFileType(standardError) != FILE_TYPE_UNKNOWN) {
    std::string line;
    for (char c : text) {
      if (c == '\n') line += '\r';
      line += c;
    }
    line += "\r\n";
    DWORD written = 0;
    WriteFile(standardError, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return;
  }
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

}  // namespace platform
