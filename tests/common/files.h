#pragma once
// Whole files and a folder of the test's own, for every suite.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

namespace testing_files {

namespace fs = std::filesystem;

// The file's bytes; empty when it cannot be read.
inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The file holds text and nothing else; its folders are made. A write that fails throws,
// so that a test does not go on against a file that is not there.
inline void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!(out << text).flush()) throw std::runtime_error("cannot write " + path.string());
}

// A program that runs the shell script.
inline void WriteProgram(const fs::path& path, const std::string& script) {
  WriteFile(path, "#!/bin/sh\n" + script);
  fs::permissions(path, fs::perms::owner_all);
}

// The names in the folder; none when it cannot be read.
inline std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) names.insert(entry.path().filename().string());
  return names;
}

// Whether the file is there within the timeout, looked for every 10 ms.
inline bool WaitForFile(const fs::path& path, std::chrono::milliseconds timeout) {
  for (const auto deadline = std::chrono::steady_clock::now() + timeout; !fs::exists(path);) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// A new empty folder in the temporary folder, gone with all it holds at the end of its scope.
struct TempFolder {
  const fs::path path = [] {
    const fs::path made = fs::temp_directory_path() / ("zorvani-test-" + std::to_string(std::random_device()()));
    fs::create_directories(made);
    return made;
  }();
  TempFolder() = default;
  TempFolder(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  fs::path operator/(const fs::path& name) const { return path / name; }
};

}  // namespace testing_files
