// The stand-in registry's .reg file: any bytes come back unchanged when nothing is set, and
// a value set into a file reads back from the written text, with the key's other values as
// they were. The input's front picks the key, the name and the value; the rest is the file.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

#include "platform/posix/reg_files/reg_file.h"

namespace {

// Key and value names as the program and regedit write them: printable ASCII, on one line.
std::string Printable(std::string text) {
  for (char& c : text)
    if (c < ' ' || c > '~') c = "aZ9 \\[]\"@=-;"[static_cast<unsigned char>(c) % 12];
  return text;
}

void Check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::string subKey = Printable(input.ConsumeRandomLengthString(24));
  while (!subKey.empty() && subKey.back() == ' ') subKey.pop_back();
  const std::string key = "HKEY_CURRENT_USER\\" + subKey;
  const std::string name = Printable(input.ConsumeRandomLengthString(12));
  const std::string other = name + "x";
  platform::RegValue value;
  value.type = input.ConsumeIntegralInRange<std::uint32_t>(0, 12);
  const std::string bytes = input.ConsumeRandomLengthString(32);
  value.data.assign(bytes.begin(), bytes.end());
  if (value.type == 1) value.data.push_back(0);
  const std::string file = input.ConsumeRemainingBytesAsString();

  platform::RegFile hive(file);
  Check(hive.Text() == file);
  const auto otherBefore = hive.FindValue(key, other);
  if (!hive.SetValue(key, name, value)) {
    Check(!hive.HasKey(key));
    hive.AddSection(key);
    Check(hive.SetValue(key, name, value));
  }
  const platform::RegFile written(hive.Text());
  Check(written.HasKey(key));
  Check(written.FindValue(key, name) == value);
  Check(written.FindValue(key, other) == otherBefore);
  return 0;
}
