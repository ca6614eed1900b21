#include "varnok/defaults.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace varnok::defaults {
namespace {

namespace fs = std::filesystem;

// Sets the variables for one case and restores what was there before.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::vector<std::pair<std::string, std::optional<std::string>>> values) {
    for (const auto& [name, value] : values) {
      const char* old = std::getenv(name.c_str());
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class DatabasePassword : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "varnok-defaults-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string file(const std::string& name, const std::string& text, mode_t mode) const {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << text;
    chmod(path.c_str(), mode);  // whatever the umask took away
    return path.string();
  }

  fs::path dir_;
};

struct Case {
  const char* what;
  std::optional<std::string> password;  // VARNOK_DB_PASSWORD
  std::optional<std::string> file;      // VARNOK_DB_PASSWORD_FILE
  std::string expected;                 // the password, or the error when `refused`
  bool refused = false;
};

TEST_F(DatabasePassword, ComesFromTheVariableOrTheFirstLineOfAnOwnerOnlyFile) {
  const std::string secret = file("secret", "fromfile\nsecond line\n", 0600);
  const std::string read_only = file("read-only", "no newline at the end", 0400);
  const std::string crlf = file("crlf", "typed elsewhere\r\n", 0600);
  const std::string group = file("group", "x\n", 0640);
  const std::string others = file("others", "x\n", 0604);
  const std::string empty = file("empty", "", 0600);
  const std::string blank_first = file("blank-first", "\nsecond\n", 0600);
  const std::string longest = file("longest", std::string(1024, 'p') + "\r\n", 0600);
  const std::string too_long = file("too-long", std::string(1025, 'p') + "\n", 0600);
  const std::string missing = (dir_ / "missing").string();
  const std::string folder = (dir_ / "folder").string();
  fs::create_directory(folder);
  chmod(folder.c_str(), 0700);

  const Case cases[] = {
      {"neither set", std::nullopt, std::nullopt, "plok9876"},
      {"both empty", "", "", "plok9876"},
      {"variable", "s3cret with spaces", std::nullopt, "s3cret with spaces"},
      {"file", std::nullopt, secret, "fromfile"},
      {"empty variable beside a file", "", secret, "fromfile"},
      {"read-only file without newline", std::nullopt, read_only, "no newline at the end"},
      {"CRLF line", std::nullopt, crlf, "typed elsewhere"},
      {"longest line", std::nullopt, longest, std::string(1024, 'p')},
      {"both set", "a", secret, "VARNOK_DB_PASSWORD and VARNOK_DB_PASSWORD_FILE are both set; set only one",
       true},
      {"missing file", std::nullopt, missing, "VARNOK_DB_PASSWORD_FILE: " + missing + " does not exist",
       true},
      {"group may read", std::nullopt, group,
       "VARNOK_DB_PASSWORD_FILE: " + group + " is open to group or others (mode 0640); chmod 600 " + group,
       true},
      {"others may read", std::nullopt, others,
       "VARNOK_DB_PASSWORD_FILE: " + others + " is open to group or others (mode 0604); chmod 600 " + others,
       true},
      {"empty file", std::nullopt, empty,
       "VARNOK_DB_PASSWORD_FILE: " + empty + ": the first line is empty (expected the database password)",
       true},
      {"blank first line", std::nullopt, blank_first,
       "VARNOK_DB_PASSWORD_FILE: " + blank_first +
           ": the first line is empty (expected the database password)",
       true},
      {"first line too long", std::nullopt, too_long,
       "VARNOK_DB_PASSWORD_FILE: " + too_long +
           ": the first line is longer than 1024 characters (expected the database password)",
       true},
      {"a folder", std::nullopt, folder, "VARNOK_DB_PASSWORD_FILE: " + folder + " is not a regular file",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ScopedEnvironment env(
        {{kDatabasePasswordVariable, c.password}, {kDatabasePasswordFileVariable, c.file}});
    if (!c.refused) {
      EXPECT_EQ(addresses().db_password, c.expected);
      continue;
    }
    try {
      addresses();
      ADD_FAILURE() << "no error";
    } catch (const UsageError& e) {
      EXPECT_EQ(e.what(), c.expected);
    }
  }
}

}  // namespace
}  // namespace varnok::defaults
