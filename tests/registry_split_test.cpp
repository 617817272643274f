// The registry procedures against a recording fake: path splitting, the two-step query,
// and the write that never creates a key and never reports.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "general/general.h"
#include "platform/services.h"

namespace zorvani {
namespace {

class FakeRegistry : public platform::Registry {
 public:
  std::map<std::string, std::string> keys;  // "root\subKey" -> value bytes (one value "V")
  std::vector<std::string> calls;
  bool growBetweenQueries = false;
  std::uint32_t lastAccess = 0;

  long RegOpenKeyExA(std::uint32_t root, const std::string& subKey, std::uint32_t, std::uint32_t access,
                     platform::Handle* key) override {
    lastAccess = access;
    calls.push_back("open " + std::to_string(root) + " " + subKey);
    *key = 7;
    open_ = std::to_string(root) + "\\" + subKey;
    return keys.count(open_) ? 0 : platform::kErrorFileNotFound;
  }
  long RegQueryValueExA(platform::Handle, const std::string& name, std::uint32_t*, std::uint8_t* data,
                        std::uint32_t* size) override {
    calls.push_back("query " + std::to_string(*size));
    const auto it = keys.find(open_);
    if (name != "V" || it == keys.end()) return platform::kErrorFileNotFound;
    std::string bytes = it->second;
    if (growBetweenQueries && *size > 0) bytes += "grown";
    const auto needed = static_cast<std::uint32_t>(bytes.size());
    if (*size < needed) {
      *size = needed;
      return platform::kErrorMoreData;
    }
    std::copy(bytes.begin(), bytes.end(), data);
    *size = needed;
    return 0;
  }
  long RegSetValueExA(platform::Handle, const std::string& name, std::uint32_t type, const std::uint8_t* data,
                      std::uint32_t size) override {
    calls.push_back("set " + name + " " + std::to_string(type) + " " +
                    std::string(reinterpret_cast<const char*>(data), size));
    return 0;
  }
  long RegCloseKey(platform::Handle) override {
    calls.push_back("close");
    return 0;
  }


 private:
  std::string open_;
};

// Puts the fake in place of the system registry for one test.
class RegistryFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = platform::Current().registry;
    platform::Current().registry = &fake;
  }
  void TearDown() override { platform::Current().registry = saved_; }
  FakeRegistry fake;

 private:
  platform::Registry* saved_ = nullptr;
};

TEST(SplitRegistryPath, SplitsRootAndSubKey) {
  struct Case {
    std::string path;
    std::uint32_t root;
    std::string rest;
    std::int32_t firstBackslash;
  };
  const Case cases[] = {
      {"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0x80000002u,
       "Software\\Microsoft\\Windows\\CurrentVersion\\Run", 19},
      {"HKEY_CURRENT_USER\\CONTROL PANEL\\DESKTOP", 0x80000001u, "CONTROL PANEL\\DESKTOP", 18},
      {"HKEY_CURRENT_USER", 0x80000001u, "", 0},
      {"HKEY_DYN_DATA\\x", 0x80000006u, "x", 14},
      {"HKEY_NOWHERE\\Key", 0u, "Key", 13},
  };
  for (const Case& c : cases) {
    std::string path = c.path;
    std::uint32_t root = 99;
    SplitRegistryPath(path, root);
    EXPECT_EQ(root, c.root) << c.path;
    EXPECT_EQ(path, c.rest) << c.path;
    EXPECT_EQ(RegistryStatus, c.firstBackslash) << c.path;
  }
}

TEST(SplitRegistryPath, RejectedPathsLeaveEverythingButTheStatus) {
  for (const std::string rejected : {"hkey_current_user\\Software", "HKEY_CURRENT_USER\\Software\\", "HKEY", "",
                                     "Software\\HKEY_CURRENT_USER"}) {
    std::string path = rejected;
    std::uint32_t root = 99;
    SplitRegistryPath(path, root);
    EXPECT_EQ(root, 99u) << rejected;
    EXPECT_EQ(path, rejected);
    const auto backslash = rejected.find('\\');
    EXPECT_EQ(RegistryStatus, backslash == std::string::npos ? 0 : static_cast<std::int32_t>(backslash + 1));
  }
  EXPECT_EQ(RegistryRootFromName("HKEY_USERS"), 0x80000003u);
  EXPECT_EQ(RegistryRootFromName("HKEY_USERS "), 0u);
}

TEST_F(RegistryFixture, QueryAsksForTheSizeThenReadsWithoutTheTerminator) {
  const std::string key = std::to_string(0x80000001u) + "\\Software\\Zorvani";
  fake.keys[key] = std::string("C:\\Zorvani\\\0", 12);
  std::string path = "HKEY_CURRENT_USER\\Software\\Zorvani";
  EXPECT_EQ(RegistryReadValue(path, "V"), "C:\\Zorvani\\");
  EXPECT_EQ(path, "Software\\Zorvani");
  EXPECT_EQ(fake.lastAccess, platform::kKeyQueryValue);
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"open 2147483649 Software\\Zorvani", "query 0", "query 12", "close"}));

  fake.keys[key] = std::string("\0", 1);  // the empty text
  EXPECT_EQ(RegistryQueryString(0x80000001u, "Software\\Zorvani", "V"), "");
  fake.keys[key] = "";  // no data at all
  EXPECT_EQ(RegistryQueryString(0x80000001u, "Software\\Zorvani", "V"), "");
  EXPECT_EQ(RegistryQueryString(0x80000001u, "Software\\Zorvani", "Missing"), "");
  fake.keys[key] = std::string("abc\0", 4);
  fake.growBetweenQueries = true;
  EXPECT_EQ(RegistryQueryString(0x80000001u, "Software\\Zorvani", "V"), "");
}

TEST_F(RegistryFixture, WriteOpensForWritingAndStoresTextWithItsTerminator) {
  fake.keys[std::to_string(0x80000001u) + "\\CONTROL PANEL\\DESKTOP"] = "";
  std::string path = "HKEY_CURRENT_USER\\CONTROL PANEL\\DESKTOP";
  RegistryWriteValue(path, "TileWallpaper", "0");
  EXPECT_EQ(fake.lastAccess, platform::kKeyWrite);
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"open 2147483649 CONTROL PANEL\\DESKTOP",
                                                  std::string("set TileWallpaper 1 0\0", 22), "close"}));
  EXPECT_EQ(RegistryStatus, 0);
}

TEST_F(RegistryFixture, WriteToAMissingKeyOrUnknownRootDoesNothing) {
  std::string missing = "HKEY_CURRENT_USER\\No\\Such\\Key";
  RegistryWriteValue(missing, "V", "x");
  EXPECT_EQ(fake.calls, std::vector<std::string>{"open 2147483649 No\\Such\\Key"});
  EXPECT_EQ(RegistryStatus, platform::kErrorFileNotFound);

  fake.calls.clear();
  std::string unknown = "HKEY_NOWHERE\\Key";
  RegistryWriteValue(unknown, "V", "x");
  EXPECT_TRUE(fake.calls.empty());

  // A rejected path keeps the root of the previous call and goes on with the whole text.
  fake.calls.clear();
  RegistryRoot = 0x80000001u;
  std::string lowerCase = "hkey_current_user\\Key";
  RegistryWriteValue(lowerCase, "V", "x");
  EXPECT_EQ(fake.calls, std::vector<std::string>{"open 2147483649 hkey_current_user\\Key"});
}

}  // namespace
}  // namespace zorvani
