#pragma once
// Finds the printed month grid, weeks from Monday or from Sunday, in a picture: the day
// numbers as marks of ink on seven equally spaced columns and equally spaced rows, laid
// out exactly as the month's days must be, and the cell boxes round them where boxes
// are drawn.
#include <string>
#include <vector>

#include "tools/calibrate/calibrate.h"

namespace zorvani {
namespace calibrate {

struct FoundGrid {
  std::string refusal;  // why no grid was taken; empty when one was
  PixelGrid grid;
  bool boxes = false;
  std::vector<PixelBox> numbers;  // each day's printed number, day 1 first
  int firstDay = 1;               // the weeks' first day: Monday 1, Sunday 7
};

int DefaultThickness(int pictureWidth);

// thickness 0 picks DefaultThickness. firstDay (Monday 1, Sunday 7) is the weeks' first
// day when the user named it; 0 lets the picture tell.
FoundGrid FindGrid(const cDIBSection& image, int year, int month, int thickness, int firstDay = 0);

// With the configuration record: every day's frame is drawn whole, holds that day's
// number inside its lines and meets no other day's number. Empty when so, else why not.
std::string CheckDayFrames(int pictureWidth, int pictureHeight, int year, int month, int firstDay,
                           const std::vector<PixelBox>& numbers);

}  // namespace calibrate
}  // namespace zorvani
