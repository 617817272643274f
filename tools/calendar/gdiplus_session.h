#pragma once
// GDI+ must be started before its first use and shut down after its last object is
// gone; one session for the whole process, shut down at exit.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

namespace zorvani {
namespace tools {

class GdiplusSession {
 public:
  static void Start() { static GdiplusSession session; }

 private:
  GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token_, &input, nullptr);
  }
  ~GdiplusSession() { Gdiplus::GdiplusShutdown(token_); }
  ULONG_PTR token_ = 0;
};

}  // namespace tools
}  // namespace zorvani
