// Finding the photos: the same on every platform.
#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "tools/photo_files.h"

namespace zorvani {
namespace tools {

std::vector<std::string> PhotoFiles(const std::string& folder) {
  std::vector<std::string> files;
  namespace fs = std::filesystem;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::string extension = it->path().extension().string();
    for (char& c : extension) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (!it->is_regular_file(error) || !(extension == ".jpg" || extension == ".jpeg" || extension == ".png")) continue;
    files.push_back(it->path().string());
  }
  if (error) throw std::runtime_error("cannot read the folder " + folder + ": " + error.message());
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace tools
}  // namespace zorvani
