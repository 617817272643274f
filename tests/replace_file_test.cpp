// A file replaced whole (platform/replace_file.h), the one way the program and its tools write,
// against what a hostile user can plant in the folder, writes that stop short or fail, and a
// crash's leftovers; on the linked backend, natively only where links, FIFOs or limits count.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>

#include "common/files.h"
#include "fakes/faulty_files.h"
#include "platform/replace_file.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using testing_files::Names;

// Read only from a regular file: a FIFO would wait for a writer.
std::string Contents(const fs::path& file) {
  return fs::is_regular_file(fs::symlink_status(file)) ? testing_files::ReadFile(file) : "<not a file>";
}

// The calls that change files, each run of equal ones as one.
std::string Steps(const std::vector<std::string>& calls) {
  std::string steps;
  for (std::size_t i = 0; i < calls.size(); ++i)
    if (i == 0 || calls[i] != calls[i - 1]) steps += (steps.empty() ? "" : " ") + calls[i];
  return steps;
}

struct Scene {
  fs::path folder, target, victim;
  fakes::FaultyFiles files;
  std::set<std::string> alsoLeft;  // names the row plants that must stay
  std::function<void()> undo;
};

struct Row {
  const char* what;
  std::function<void(Scene&)> plant;
  bool saved;
  std::uint32_t error = 0;  // the system error code of a failure, where the row knows it
  std::size_t size = 1000;  // of the bytes written
};

#ifdef _WIN32
constexpr std::uint32_t kDiskFull = 112, kIoError = 1117;  // ERROR_DISK_FULL, ERROR_IO_DEVICE
#else
constexpr std::uint32_t kDiskFull = ENOSPC, kIoError = EIO;
#endif

std::string SystemText(std::uint32_t code) {
  const std::string text = platform::SystemFiles().FormatMessageA(code);
  return text.substr(0, text.find_last_not_of("\r\n") + 1);
}

TEST(ReplaceFile, PlantedNamesFaultsAndLeftovers) {
  const fs::path folder = fs::temp_directory_path() / ("zorvani-replace-" + std::to_string(std::random_device()()));
  const auto old = [](Scene& s) { std::ofstream(s.target, std::ios::binary) << "old"; };
#ifndef _WIN32
  const auto sizeLimit = [&](rlim_t bytes) {
    return [&, bytes](Scene& s) {
      old(s);
      rlimit limit{};
      getrlimit(RLIMIT_FSIZE, &limit);
      const rlimit saved = limit;
      limit.rlim_cur = bytes;
      setrlimit(RLIMIT_FSIZE, &limit);
      const auto handler = signal(SIGXFSZ, SIG_IGN);
      s.undo = [saved, handler] { setrlimit(RLIMIT_FSIZE, &saved), signal(SIGXFSZ, handler); };
    };
  };
  // Plants something at the temporary's name just before it is first created, as a rival could.
  const auto atTemporary = [](void (*plant)(const std::string& name, Scene& s)) {
    return [plant](Scene& s) {
      s.files.beforeCreate = [&s, plant](const std::string& name) {
        if (s.files.calls.size() == 1) plant(name, s), s.alsoLeft = {fs::path(name).filename().string()};
      };
    };
  };
#endif
  std::vector<Row> rows = {
      {"a new file", nullptr, true},
      {"short writes", [&](Scene& s) { old(s), s.files.longestWrite = 7; }, true},
      {"a write that takes nothing and says no error",
       [&](Scene& s) { old(s), s.files.longestWrite = 1, s.files.failingWrite = 2, s.files.shortWrite = true; }, false},
      {"the disk is full", [&](Scene& s) { old(s), s.files.failingWrite = 1, s.files.failureCode = kDiskFull; }, false,
       kDiskFull},
      {"the flush fails", [&](Scene& s) { old(s), s.files.failFlush = true, s.files.failureCode = kIoError; }, false,
       kIoError},
      {"the rename fails", [](Scene& s) { fs::create_directories(s.target / "inside"); }, false},
      {"leftovers of a crash go, a running writer's and other names stay",
       [&](Scene& s) {
         old(s);
         for (const char* name : {"wp.bmp.0123abcd.tmp", "wp.bmp.tmp", "wp.bmp.notes.tmp", "notes.tmp", "other.0123abcd.tmp"})
           std::ofstream(s.folder / name) << name;
         const platform::Handle held = platform::SystemFiles().CreateFileA((s.folder / "wp.bmp.89abcdef.tmp").string());
         s.undo = [held] { platform::SystemFiles().CloseHandle(held); };
         s.alsoLeft = {"wp.bmp.notes.tmp", "notes.tmp", "other.0123abcd.tmp", "wp.bmp.89abcdef.tmp"};
       },
       true},
#ifndef _WIN32
      {"a link at the target", [](Scene& s) { fs::create_symlink(s.victim, s.target); }, true},
      {"a link at the temporary", atTemporary([](auto& name, Scene& s) { fs::create_symlink(s.folder / "elsewhere", name); }), true},
      {"a hard link at the temporary", atTemporary([](auto& name, Scene& s) { fs::create_hard_link(s.victim, name); }), true},
      {"a FIFO at the target", [](Scene& s) { mkfifo(s.target.c_str(), 0600); }, true},
      {"a FIFO at the temporary", atTemporary([](auto& name, Scene&) { mkfifo(name.c_str(), 0600); }), true},
      {"leftover links go, not what they point at",
       [](Scene& s) { fs::create_symlink(s.victim, s.folder / "wp.bmp.fedcba98.tmp"); }, true},
      {"the target's mode is kept", [&](Scene& s) { old(s), fs::permissions(s.target, fs::perms::owner_read | fs::perms::owner_write); },
       true},
      {"beyond the file size limit", sizeLimit(100), false, EFBIG},
      // Small writes are held back for one combined write, which fails only at the flush.
      {"held back, then beyond the file size limit", sizeLimit(40), false, EFBIG, 62},
#endif
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(folder);
    fs::create_directories(folder);
    Scene s{folder, folder / "wp.bmp", folder / "victim"};
    std::ofstream(s.victim) << "victim";
    if (row.plant) row.plant(s);
    const auto oldTarget = fs::symlink_status(s.target);
    std::string error;
    const std::string bytes(row.size, 'n');
    const bool saved = platform::ReplaceFileWith(s.files, s.target.string(), bytes, &error);
    if (s.undo) s.undo();

    EXPECT_EQ(saved, row.saved) << error;
    EXPECT_EQ(Contents(s.victim), "victim");
    EXPECT_FALSE(fs::exists(folder / "elsewhere"));
    std::set<std::string> left = {"victim", "wp.bmp"};
    left.insert(s.alsoLeft.begin(), s.alsoLeft.end());
    if (!fs::exists(fs::symlink_status(s.target))) left.erase("wp.bmp");
    EXPECT_EQ(Names(folder), left);
    if (saved) {
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(s.target)));
      EXPECT_EQ(Contents(s.target), bytes);
      // On the disk before it takes the target's name.
      const std::string steps = Steps(s.files.calls);
      EXPECT_EQ(steps.substr(steps.find("create")), "create write flush close move");
      if (fs::is_regular_file(oldTarget)) EXPECT_EQ(fs::status(s.target).permissions(), oldTarget.permissions());
    } else {
      EXPECT_EQ(error.rfind("cannot write " + s.target.string(), 0), 0u) << error;
      if (row.error != 0) EXPECT_EQ(error, "cannot write " + s.target.string() + ": " + SystemText(row.error));
      if (fs::is_regular_file(oldTarget)) EXPECT_EQ(Contents(s.target), "old");
    }
  }
#ifndef _WIN32
  // A link is replaced the same way: in one rename, the crash's leftovers gone.
  std::ofstream(folder / "wp.bmp.0123abcd.tmp") << "left";
  ASSERT_TRUE(platform::ReplaceWithLink((folder / "wp.bmp").string(), "victim"));
  EXPECT_EQ(fs::read_symlink(folder / "wp.bmp"), "victim");
  EXPECT_EQ(Names(folder), (std::set<std::string>{"victim", "wp.bmp"}));
#endif
  fs::remove_all(folder);
}

}  // namespace
