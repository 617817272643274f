// Placeholder until start-up lands.
#include "app/instance_checker.h"

namespace zorvani {
void Main(platform::HiddenForm&) {}
}  // namespace zorvani
