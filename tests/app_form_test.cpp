// The Linux event loop of the hidden form (the Windows window is the process-level suite's,
// but for the display change and the session's end, which no process outside can bring
// about under Wine).
#ifdef _WIN32
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/form.h"
#include "runtime/runtime_error.h"

namespace {

// Sent while a tick runs: its handler runs once the tick's has returned, never inside it.
TEST(HiddenFormWindow, ADisplayChangeRunsItsHandlerAfterTheTickItCameIn) {
  std::string order;
  platform::HiddenForm form;
  try {
    form.Load("ZorvaniWallpaper", 20,
              {[&] { order += 'L'; },
               [&] {
                 order += 'T';
                 const HWND window = FindWindowA("ZorvaniWallpaperForm", "ZorvaniWallpaper");
                 if (order.size() == 2) SendMessageA(window, WM_DISPLAYCHANGE, 24, MAKELPARAM(1920, 1080));
                 order += '.';
                 // A log-off that is cancelled ends nothing; one that goes ahead ends the loop.
                 if (order.size() > 4) SendMessageA(window, WM_ENDSESSION, order.size() > 7, 0);
               },
               [&] { order += 'U'; }, [&] { order += 'D'; }});
  } catch (const zorvani::RuntimeError&) {
    GTEST_SKIP() << "no display to make a window on";
  }
  EXPECT_EQ(form.RunMessageLoop(), 0);
  EXPECT_EQ(order, "LT.DT.T.U");
}

}  // namespace
#else
#include <signal.h>

#include <gtest/gtest.h>

#include "platform/form.h"
#include "runtime/runtime_error.h"

namespace {

TEST(HiddenFormLoop, LoadRunsFirstTicksFollowAndEndSignalsUnloadWithStatusZero) {
  std::string order;
  bool seenPending = false;
  {
    platform::HiddenForm form;
    form.Load("ZorvaniWallpaper", 20,
              {[&] { order += 'L'; },
               [&] {
                 order += 'T';
                 if (order.size() != 3) return;
                 seenPending = !platform::EndPending();
                 raise(SIGTERM);  // blocked: waits for the loop, and a handler may ask for it
                 raise(SIGHUP);
                 raise(SIGXFSZ);  // a write beyond the file size limit fails instead of ending the process
                 seenPending = seenPending && platform::EndPending();
               },
               [&] { order += 'U'; }});
    EXPECT_EQ(order, "L");
    EXPECT_EQ(form.RunMessageLoop(), 0);
    EXPECT_EQ(order, "LTTU");
  }
  EXPECT_TRUE(seenPending);
  // More ends while the process winds down, the form gone: they must not kill it.
  raise(SIGTERM);
  raise(SIGINT);
}

TEST(HiddenFormLoop, AnErrorInATickEndsTheLoopAndIsRethrown) {
  int ticks = 0;
  platform::HiddenForm form;
  form.Load("ZorvaniWallpaper", 10, {nullptr, [&] { if (++ticks == 2) zorvani::Raise(zorvani::kErrSubscriptOutOfRange); }, nullptr});
  try {
    form.RunMessageLoop();
    ADD_FAILURE() << "no error came out of the loop";
  } catch (const zorvani::RuntimeError& e) {
    EXPECT_EQ(e.number(), zorvani::kErrSubscriptOutOfRange);
  }
  EXPECT_EQ(ticks, 2);
}

}  // namespace
#endif
