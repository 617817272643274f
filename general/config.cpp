// Placeholder until the configuration reader lands.
#include "general/general.h"

namespace zorvani {
void LoadConfig() {}
}  // namespace zorvani
