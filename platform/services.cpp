#include "platform/services.h"

namespace platform {

Services& Current() {
  static Services services{&SystemClock(), &SystemGdi(), &SystemFiles(), &SystemRegistry(),
                           &SystemPictureLoader(), &SystemDesktop(), &TheSystemLog()};
  return services;
}

}  // namespace platform
