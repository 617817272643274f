#pragma once
// The size of the primary screen, for pictures that fill it without being stretched.

namespace platform {

// False when there is no display to ask (a console, an ssh session, a build machine).
bool PrimaryScreenSize(int* width, int* height);

}  // namespace platform
