// The Windows build has no calendar reader yet, so there is no file to read.
#include "days/source_files.h"

namespace zorvani {
namespace days {

std::optional<FileStamp> StampOfSourceFile(const std::string&) { return std::nullopt; }

bool ReadSourceFile(const std::string&, std::string*, FileStamp*) { return false; }

std::vector<std::pair<std::string, std::string>> MachineFileSourceTexts() { return {}; }

}  // namespace days
}  // namespace zorvani
