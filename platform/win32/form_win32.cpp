// The hidden form on Windows: a top-level window that is created and hidden once,
// never shown, with a SetTimer timer whose WM_TIMER ticks come through the message
// loop. WM_CLOSE (taskkill, a closing session) and WM_ENDSESSION unload it; one that
// comes while a handler runs is noted, so that a long refresh can stop at its next
// step, and acted on when the handler returns.
#include <windows.h>

#include <exception>
#include <string>
#include <vector>

#include "platform/form.h"
#include "platform/process.h"
#include "runtime/runtime_error.h"

namespace platform {
namespace {

const char kWindowClass[] = "ZorvaniWallpaperForm";
constexpr UINT_PTR kTimerId = 1;

// The one form of the process, for EndPending.
HiddenForm::State* theForm = nullptr;

}  // namespace

struct HiddenForm::State {
  FormHandlers handlers;
  HWND window = nullptr;
  bool unloaded = false;
  bool inHandler = false;
  bool endRequested = false;
  bool displayChanged = false;
  // An exception may not unwind through the window procedure (a system frame): it is
  // kept here, the loop ends, and RunMessageLoop rethrows it.
  std::exception_ptr failure;

  void Run(const std::function<void()>& handler) {
    if (!handler || failure) return;
    inHandler = true;
    try {
      handler();
    } catch (...) {
      failure = std::current_exception();
      PostQuitMessage(1);
    }
    inHandler = false;
  }

  // Unloads now, or, inside a handler (EndPending dispatches messages sent to the
  // window, such as WM_ENDSESSION), once the handler has returned.
  void RequestEnd() {
    if (inHandler) {
      endRequested = true;
      return;
    }
    Unload();
  }

  void RunDisplayChange() {
    if (!displayChanged || unloaded || endRequested) return;
    displayChanged = false;
    Run(handlers.displayChange);
  }

  void Unload() {
    if (unloaded) return;
    unloaded = true;
    Run(handlers.unload);
    KillTimer(window, kTimerId);
    DestroyWindow(window);
  }

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<State*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (state == nullptr) return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
      case WM_TIMER:
        if (wParam == kTimerId && !state->unloaded && !state->inHandler) {
          state->Run(state->handlers.tick);
          state->RunDisplayChange();
          if (state->endRequested) state->Unload();
        }
        return 0;
      case WM_DISPLAYCHANGE:
        // Sent, so it may come while a handler looks for an end: then after it.
        state->displayChanged = true;
        if (!state->inHandler && !state->unloaded) state->RunDisplayChange();
        return 0;
      case WM_CLOSE:
        state->RequestEnd();
        return 0;
      case WM_ENDSESSION:
        if (wParam) state->RequestEnd();
        return 0;
      case WM_DESTROY:
        state->window = nullptr;
        PostQuitMessage(0);
        return 0;
      default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
  }
};

bool EndPending() {
  HiddenForm::State* state = theForm;
  if (state == nullptr || state->window == nullptr) return false;
  if (state->endRequested) return true;
  // Looking delivers the messages sent to the window (WM_ENDSESSION at log-off), which
  // only note the end while a handler runs; a posted WM_CLOSE (taskkill) stays queued
  // for the loop and is only seen here.
  MSG message;
  if (PeekMessageA(&message, state->window, WM_CLOSE, WM_CLOSE, PM_NOREMOVE)) state->endRequested = true;
  return state->endRequested;
}

namespace {

// The copies of one program file whose forms were asked to close.
struct CopySearch {
  std::string program;
  DWORD self = 0;
  std::vector<DWORD> ids;
  std::vector<HANDLE> processes;
};

std::string ProcessFile(HANDLE process) {
  char path[MAX_PATH * 4];
  DWORD size = sizeof path;
  return QueryFullProcessImageNameA(process, 0, path, &size) ? std::string(path, size) : std::string();
}

BOOL CALLBACK CloseIfCopy(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<CopySearch*>(data);
  char className[sizeof kWindowClass + 1] = {};
  if (GetClassNameA(window, className, sizeof className) == 0 || lstrcmpA(className, kWindowClass) != 0) return TRUE;
  DWORD id = 0;
  GetWindowThreadProcessId(window, &id);
  if (id == 0 || id == search->self) return TRUE;
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (process == nullptr) return TRUE;
  // Another installation's copy, in another folder, is not this uninstall's business.
  if (lstrcmpiA(ProcessFile(process).c_str(), search->program.c_str()) != 0) {
    CloseHandle(process);
    return TRUE;
  }
  PostMessageA(window, WM_CLOSE, 0, 0);
  for (DWORD known : search->ids) {
    if (known == id) {
      CloseHandle(process);
      return TRUE;
    }
  }
  search->ids.push_back(id);
  search->processes.push_back(process);
  return TRUE;
}

BOOL CALLBACK SearchDesktop(LPSTR name, LPARAM data) {
  HDESK desktop = OpenDesktopA(name, 0, FALSE, DESKTOP_READOBJECTS | DESKTOP_ENUMERATE);
  if (desktop == nullptr) return TRUE;
  EnumDesktopWindows(desktop, CloseIfCopy, data);
  CloseDesktop(desktop);
  return TRUE;
}

}  // namespace

bool CloseRunningCopies(unsigned deadlineMs) {
  CopySearch search;
  search.program = ExecutablePath();
  search.self = GetCurrentProcessId();
  if (search.program.empty()) return false;
  // The form is hidden and may live on another desktop than the uninstaller (a Wine
  // desktop window, a second desktop): every desktop of the window station is searched.
  EnumDesktopsA(GetProcessWindowStation(), SearchDesktop, reinterpret_cast<LPARAM>(&search));
  const ULONGLONG end = GetTickCount64() + deadlineMs;
  bool allEnded = true;
  for (HANDLE process : search.processes) {
    const ULONGLONG now = GetTickCount64();
    if (WaitForSingleObject(process, now < end ? static_cast<DWORD>(end - now) : 0) != WAIT_OBJECT_0) allEnded = false;
    CloseHandle(process);
  }
  return allEnded;
}

HiddenForm::HiddenForm() : state_(new State) { theForm = state_; }

HiddenForm::~HiddenForm() {
  if (state_->window != nullptr) {
    SetWindowLongPtrA(state_->window, GWLP_USERDATA, 0);
    KillTimer(state_->window, kTimerId);
    DestroyWindow(state_->window);
  }
  UnregisterClassA(kWindowClass, GetModuleHandleA(nullptr));
  if (theForm == state_) theForm = nullptr;
  delete state_;
}

void HiddenForm::Load(const std::string& caption, unsigned intervalMs, FormHandlers handlers) {
  state_->handlers = std::move(handlers);
  HINSTANCE instance = GetModuleHandleA(nullptr);

  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = State::WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowClass;
  if (RegisterClassExA(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    zorvani::Raise(zorvani::kErrInternal, "The hidden window's class cannot be registered");

  // Without a window no tick and no WM_CLOSE would ever come: fail instead of waiting.
  state_->window = CreateWindowExA(0, kWindowClass, caption.c_str(), WS_OVERLAPPED, 0, 0, 1, 1, nullptr,
                                   nullptr, instance, nullptr);
  if (state_->window == nullptr) zorvani::Raise(zorvani::kErrInternal, "The hidden window cannot be created");
  SetWindowLongPtrA(state_->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state_));
  // HACK: the first ShowWindow of a process may obey the show command in STARTUPINFO
  // instead of its argument; this call uses that up while the window is still hidden.
  ShowWindow(state_->window, SW_HIDE);

  if (SetTimer(state_->window, kTimerId, intervalMs, nullptr) == 0)
    zorvani::Raise(zorvani::kErrInternal, "The timer cannot be started");

  if (!state_->handlers.load) return;
  state_->inHandler = true;
  try {
    state_->handlers.load();
  } catch (...) {
    state_->inHandler = false;
    throw;
  }
  state_->inHandler = false;
  if (state_->endRequested) state_->Unload();
}

int HiddenForm::RunMessageLoop() {
  if (state_->window == nullptr) return 0;
  MSG message{};
  int status = 0;
  for (;;) {
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) {
      status = static_cast<int>(message.wParam);
      break;
    }
    if (got == -1) break;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  if (state_->failure) std::rethrow_exception(state_->failure);
  return status;
}

}  // namespace platform
