// The primary monitor read from xrandr's report, which picks the size of new calendars.
#ifndef _WIN32
#include <gtest/gtest.h>

#include "platform/posix/desktop/screen_size.h"

namespace {

TEST(ScreenSize, ThePrimaryMonitorWinsOverTheFirstConnectedOne) {
  const struct {
    const char* report;
    bool found;
    int width, height;
  } cases[] = {
      {"Screen 0: minimum 8 x 8, current 3840 x 1080, maximum 32767 x 32767\n"
       "DP-1 connected 1920x1200+0+0 (normal left inverted right) 518mm x 324mm\n"
       "   1920x1200     59.95*+\n"
       "HDMI-1 connected primary 1920x1080+1920+0 (normal left inverted right) 527mm x 296mm\n",
       true, 1920, 1080},
      {"VGA-1 disconnected (normal left inverted right x axis y axis)\n"
       "LVDS-1 connected 1366x768+0+0 (normal left inverted right) 344mm x 193mm\n",
       true, 1366, 768},
      {"screen connected 1280x800+0+0 0mm x 0mm\n", true, 1280, 800},  // Xvfb
      {"HDMI-1 connected primary (normal left inverted right x axis y axis)\n", false, 0, 0},  // no mode
      {"", false, 0, 0},
  };
  for (const auto& c : cases) {
    int width = 0, height = 0;
    EXPECT_EQ(platform::posix::PrimaryMonitorOfXrandr(c.report, &width, &height), c.found) << c.report;
    if (c.found) EXPECT_EQ(std::make_pair(width, height), std::make_pair(c.width, c.height)) << c.report;
  }
}

}  // namespace
#endif
