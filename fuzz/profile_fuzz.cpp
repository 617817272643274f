// The profile reader and LoadConfigFrom on any WP.ini: the configuration loads or stops with a
// run-time error, and a cut section is the front of the whole one, ended with two NULs.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "general/general.h"
#include "platform/profile.h"
#include "runtime/runtime_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/zorvani-fuzz-" + std::to_string(getpid()) + ".ini";
  static const int removeAtExit = std::atexit([] { std::remove(path.c_str()); });
  (void)removeAtExit;
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                 static_cast<std::streamsize>(size));
  zorvani::Config = zorvani::ConfigRecord{};
  try {
    zorvani::LoadConfigFrom(path);
  } catch (const zorvani::RuntimeError&) {
  }

  std::vector<char> whole(size + 2), cut(size % 40 + 2);
  const std::uint32_t all = platform::GetPrivateProfileSectionA("config", whole.data(),
                                                                static_cast<std::uint32_t>(whole.size()), path);
  const auto small = static_cast<std::uint32_t>(cut.size());
  const std::uint32_t part = platform::GetPrivateProfileSectionA("config", cut.data(), small, path);
  if (all > whole.size() - 2 || whole[all] != 0 || (all > 0 && whole[all + 1] != 0)) std::abort();
  if (part > small - 2 || cut[part] != 0 || (part > 0 && cut[part + 1] != 0)) std::abort();
  if (std::memcmp(cut.data(), whole.data(), part) != 0) std::abort();
  return 0;
}
