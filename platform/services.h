#pragma once
// The operating-system services the core uses, in one place. Each points at the
// linked backend unless a test has put a fake in its place.
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/gdi.h"
#include "platform/picture.h"
#include "platform/registry.h"
#include "platform/screen.h"
#include "platform/system_log.h"
#include "platform/wallpaper.h"

namespace platform {

struct Services {
  Clock* clock;
  Gdi* gdi;
  Files* files;
  Registry* registry;
  PictureLoader* pictures;
  Desktop* desktop;
  SystemLog* log = nullptr;  // none: nothing is logged
  std::vector<Monitor> (*monitorLayout)() = &MonitorLayout;
};

// The services in use; tests swap members and restore them afterwards.
Services& Current();

}  // namespace platform
