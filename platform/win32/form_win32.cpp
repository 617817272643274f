// The hidden form on Windows: a top-level window that is created and hidden once,
// never shown, with a SetTimer timer whose WM_TIMER ticks come through the message
// loop. WM_CLOSE (taskkill, a closing session) and WM_ENDSESSION unload it.
#include <windows.h>

#include <exception>
#include <string>

#include "platform/form.h"
#include "runtime/runtime_error.h"

namespace platform {
namespace {

const char kWindowClass[] = "ZorvaniWallpaperForm";
constexpr UINT_PTR kTimerId = 1;

}  // namespace

struct HiddenForm::State {
  FormHandlers handlers;
  HWND window = nullptr;
  bool unloaded = false;
  // An exception may not unwind through the window procedure (a system frame): it is
  // kept here, the loop ends, and RunMessageLoop rethrows it.
  std::exception_ptr failure;

  void Run(const std::function<void()>& handler) {
    if (!handler || failure) return;
    try {
      handler();
    } catch (...) {
      failure = std::current_exception();
      PostQuitMessage(1);
    }
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
        if (wParam == kTimerId && !state->unloaded) state->Run(state->handlers.tick);
        return 0;
      case WM_CLOSE:
        state->Unload();
        return 0;
      case WM_ENDSESSION:
        if (wParam) state->Unload();
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

// WM_CLOSE and WM_ENDSESSION are handled between ticks only.
bool EndPending() { return false; }

HiddenForm::HiddenForm() : state_(new State) {}

HiddenForm::~HiddenForm() {
  if (state_->window != nullptr) {
    SetWindowLongPtrA(state_->window, GWLP_USERDATA, 0);
    KillTimer(state_->window, kTimerId);
    DestroyWindow(state_->window);
  }
  UnregisterClassA(kWindowClass, GetModuleHandleA(nullptr));
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

  if (state_->handlers.load) state_->handlers.load();
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
