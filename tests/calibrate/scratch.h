#pragma once
// A folder of the test run's own under the temporary folder, removed when the run ends.
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

inline std::filesystem::path Scratch(const std::string& name) {
  static const struct Folder {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("zorvani-calibrate-test-" + std::to_string(::getpid()));
    Folder() { std::filesystem::create_directories(path); }
    ~Folder() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  } folder;
  return folder.path / name;
}
