// The gateway token: a client sends the token of the file
// VARNOK_GATEWAY_TOKEN_FILE names, against the real opcsim started with that
// same file; a client without it, or with another, is refused clearly.

#include "gateway_token.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "gateway_client.h"
#include "opcsim_process.h"

namespace corvex {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Sets (or, with nullopt, unsets) the variable for one scope.
class ScopedVariable {
 public:
  explicit ScopedVariable(const std::optional<std::string>& value) {
    if (const char* old = std::getenv(kGatewayTokenFileVariable)) old_ = old;
    apply(value);
  }
  ~ScopedVariable() { apply(old_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  static void apply(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(kGatewayTokenFileVariable, value->c_str(), 1);
    } else {
      ::unsetenv(kGatewayTokenFileVariable);
    }
  }
  std::optional<std::string> old_;
};

class TokenFiles {
 public:
  TokenFiles() : dir_(fs::temp_directory_path() / ("varnok-token-test-" + std::to_string(::getpid()))) {
    fs::create_directories(dir_);
  }
  ~TokenFiles() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  TokenFiles(const TokenFiles&) = delete;
  TokenFiles& operator=(const TokenFiles&) = delete;

  std::string write(const std::string& name, const std::string& text,
                    fs::perms mode = fs::perms::owner_read) {
    const fs::path file = dir_ / name;
    std::ofstream(file, std::ios::binary) << text;
    fs::permissions(file, mode);
    return file.string();
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  fs::path dir_;
};

// The GatewayError `run` throws; a failure if it throws none.
GatewayError refusal(const std::function<void()>& run) {
  try {
    run();
  } catch (const GatewayError& e) {
    return e;
  }
  ADD_FAILURE() << "no GatewayError";
  return GatewayError(GatewayError::Kind::kUnavailable, "");
}

const std::vector<TagValue> kTags = {{"a", 1.0}, {"b", 2.0}};

TEST(GatewayToken, AClientWithTheTokenIsServedAndOneWithoutOrWithAnotherIsRefusedClearly) {
  TokenFiles files;
  const std::string good = files.write("token", "  s3cret-token \nsecond line\n");
  const ScopedVariable with_token(good);
  // Started with the token file through the same variable.
  varnok::testing::OpcsimProcess opcsim;

  GatewayClient client("127.0.0.1", opcsim.gateway_port(), 5000ms);
  const std::string session = client.register_group("T1", kTags, 5000ms, "token test");
  client.open_exchange("T1", session);
  client.exchange_publish({1}, {7.5});
  std::vector<double> values;
  client.exchange_read(values);
  EXPECT_EQ(values, (std::vector<double>{1.0, 7.5}));

  struct Case {
    const char* what;
    std::optional<std::string> file;
    const char* says;
  };
  const Case cases[] = {
      {"no token", std::nullopt, "this gateway needs a token"},
      {"another token", files.write("other", "s3cret\n"), "wrong gateway token"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedVariable variable(c.file);
    GatewayClient other("127.0.0.1", opcsim.gateway_port(), 5000ms);
    const GatewayError unary = refusal([&] { other.register_group("T2", kTags, 5000ms, "token test"); });
    EXPECT_EQ(unary.kind(), GatewayError::Kind::kInvalid);
    const std::string message = unary.what();
    EXPECT_NE(message.find(c.says), std::string::npos) << message;
    EXPECT_NE(message.find("authorization: Bearer <token>"), std::string::npos) << message;
    EXPECT_NE(message.find("VARNOK_GATEWAY_TOKEN_FILE"), std::string::npos) << message;

    const GatewayError stream = refusal([&] {
      other.open_exchange("T1", session);
      other.exchange_publish({0}, {-1.0});
      std::vector<double> ignored;
      other.exchange_read(ignored);
    });
    EXPECT_EQ(stream.kind(), GatewayError::Kind::kInvalid) << stream.what();
    EXPECT_NE(std::string(stream.what()).find(c.says), std::string::npos) << stream.what();
  }
  // Nothing of the refused calls reached the group.
  client.exchange_read(values);
  EXPECT_EQ(values, (std::vector<double>{1.0, 7.5}));
  client.close_exchange();
  client.release("T1", session);
}

TEST(GatewayToken, ABadTokenFileIsAnErrorNamingTheVariableTheFileAndTheFault) {
  TokenFiles files;
  struct Case {
    const char* what;
    std::string file;
    const char* says;
  };
  const Case cases[] = {
      {"missing", files.path("missing"), "does not exist"},
      {"open to others", files.write("open", "t\n", fs::perms::owner_read | fs::perms::others_read),
       "is open to group or others (mode 0404); chmod 600 "},
      {"blank first line", files.write("blank", " \t\nsecond\n"), "the first line is blank"},
      {"not ASCII", files.write("accent", "tok\xc3\xa9n\n"), "characters other than printable ASCII"},
      {"too long", files.write("long", std::string(1025, 'x')), "longer than 1024 characters"},
      {"a folder", fs::temp_directory_path().string(), "is not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedVariable variable(c.file);
    const GatewayError e = refusal([] { GatewayClient("127.0.0.1", 1, 1000ms); });
    EXPECT_EQ(e.kind(), GatewayError::Kind::kInvalid);
    const std::string message = e.what();
    EXPECT_EQ(message.rfind("VARNOK_GATEWAY_TOKEN_FILE: gateway token file " + c.file, 0), 0u)
        << message;
    EXPECT_NE(message.find(c.says), std::string::npos) << message;
  }
}

}  // namespace
}  // namespace corvex
