#include "web/web_access.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(WebAccess, TokensEqual_OnlyTheExactTokenMatches) {
  struct Case {
    const char* given;
    const char* expected;
    bool equal;
  };
  const Case cases[] = {
      {"s3cret", "s3cret", true},   {"s3cre", "s3cret", false},
      {"s3cret!", "s3cret", false}, {"S3cret", "s3cret", false},
      {"", "s3cret", false},        {"", "", false},
      {"anything", "", false},      {"s3crets3cret", "s3cret", false},  // a repeat is no match
  };
  for (const Case& c : cases)
    EXPECT_EQ(TokensEqual(c.given, c.expected), c.equal) << c.given << " / " << c.expected;
}

TEST(WebAccess, AccessForToken_ControlTokenControls_ViewTokenOrNoneLooksOn_AnythingElseRefused) {
  using A = WebAccess;
  struct Case {
    std::optional<std::string> token;
    const char* control;
    const char* view;
    A access;
  };
  const Case cases[] = {
      {"c", "c", "", A::Control},
      {"c", "c", "v", A::Control},
      {"v", "c", "v", A::View},
      {std::nullopt, "c", "", A::View},      // no view token set: anyone on the address looks on
      {"", "c", "", A::View},                // "?token=" is no token
      {std::nullopt, "c", "v", A::Refused},  // with a view token, looking on needs it
      {"", "c", "v", A::Refused},
      {"x", "c", "", A::Refused},  // a wrong token is refused, not demoted to looking on
      {"x", "c", "v", A::Refused},
      {"c", "", "", A::Refused},  // an empty control token matches nothing
  };
  for (const Case& c : cases)
    EXPECT_EQ(AccessForToken(c.token, c.control, c.view), c.access)
        << c.token.value_or("(none)") << " " << c.control << " " << c.view;
}

TEST(WebAccess, OriginAllowed_OnlyThisMachinesNamesWithTheServersSchemeAndPort) {
  const QStringList hosts{"localhost", "127.0.0.1", "192.168.1.20", "::1", "tractor-pc"};
  struct Case {
    const char* origin;
    std::uint16_t port;
    bool tls;
    bool allowed;
  };
  const Case cases[] = {
      {"http://127.0.0.1:8021", 8021, false, true},
      {"http://LOCALHOST:8021", 8021, false, true},
      {"http://192.168.1.20:8021", 8021, false, true},
      {"http://[::1]:8021", 8021, false, true},
      {"http://tractor-pc:8021", 8021, false, true},
      {"http://127.0.0.1", 80, false, true},  // the scheme's own port
      {"https://127.0.0.1", 443, true, true},
      {"https://127.0.0.1:8021", 8021, true, true},
      {"http://127.0.0.1:8022", 8021, false, false},   // another port is another site
      {"https://127.0.0.1:8021", 8021, false, false},  // another scheme too
      {"http://127.0.0.1:8021", 8021, true, false},
      {"http://evil.example:8021", 8021, false, false},
      {"http://127.0.0.1.evil.example:8021", 8021, false, false},
      {"http://user@127.0.0.1:8021", 8021, false, false},
      {"http://127.0.0.1:8021/page", 8021, false, false},
      {"null", 8021, false, false},  // sandboxed frames and files
      {"", 8021, false, false},
      {"127.0.0.1:8021", 8021, false, false},
  };
  for (const Case& c : cases) EXPECT_EQ(OriginAllowed(c.origin, hosts, c.port, c.tls), c.allowed) << c.origin;
}

TEST(WebAccess, LocalHostNames_HoldLocalhostAndTheLoopbackAddress) {
  const QStringList names = LocalHostNames();
  EXPECT_TRUE(names.contains("localhost"));
  EXPECT_TRUE(names.contains("127.0.0.1"));
}

TEST(WebAccess, IsLoopbackAddress_OnlyAddressesThatStayOnThisMachine) {
  struct Case {
    const char* address;
    bool loopback;
  };
  const Case cases[] = {{"127.0.0.1", true}, {"127.1.2.3", true}, {"::1", true}, {"localhost", true},
                        {"", false},         {"0.0.0.0", false},  {"::", false}, {"192.168.1.20", false},
                        {"10.0.0.1", false}, {"tractor", false}};
  for (const Case& c : cases) EXPECT_EQ(IsLoopbackAddress(c.address), c.loopback) << "'" << c.address << "'";
}

TEST(WebAccess, MakeRandomToken_UrlSafeAndNeverTheSame) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    const std::string token = MakeRandomToken();
    EXPECT_EQ(token.size(), 22u);
    EXPECT_EQ(token.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string::npos)
        << token;
    seen.insert(token);
  }
  EXPECT_EQ(seen.size(), 50u);
}

}  // namespace
