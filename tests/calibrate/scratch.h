#pragma once
// A folder of the test run's own under the temporary folder, removed when the run ends.
#include <filesystem>
#include <string>

#include "common/files.h"

inline std::filesystem::path Scratch(const std::string& name) {
  static const testing_files::TempFolder folder;
  return folder / name;
}
