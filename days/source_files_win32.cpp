// The Windows build has no calendar reader yet, so there is no file to read.
#include "days/source_files.h"

namespace zorvani {
namespace days {

bool ReadSourceFile(const std::string&, std::string*) { return false; }

std::vector<std::pair<std::string, std::string>> MachineFileSourceTexts() { return {}; }

}  // namespace days
}  // namespace zorvani
