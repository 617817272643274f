// Placeholder until the refresh lands.
#include "general/general.h"

namespace zorvani {
Status RefreshWallpaper() { return -1; }
}  // namespace zorvani
