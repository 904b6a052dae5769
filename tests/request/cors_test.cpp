#include "request/cors.h"

#include <gtest/gtest.h>

namespace vorlink {
namespace {

const HeaderList kFixedAnswerHeaders = {
    {"Access-Control-Allow-Method", "POST, GET, OPTIONS"},
    {"Access-Control-Allow-Headers", "X-Request-With, Content-Type, Accept"},
    {"Access-Control-Allow-Private-Network", "true"},
    {"Access-Control-Max-Age", "1728000"},
};

HeaderList WithOrigin(const std::string& allowed) {
  HeaderList h = {{"Access-Control-Allow-Origin", allowed}};
  h.insert(h.end(), kFixedAnswerHeaders.begin(), kFixedAnswerHeaders.end());
  return h;
}

TEST(AnswerCors, EchoesHttpOriginsWithoutTheirPath) {
  struct Case {
    std::string origin;
    HeaderList expected;
  } cases[] = {
      {"https://bank.example:8443", WithOrigin("https://bank.example:8443")},
      {"https://bank.example:8443/login/page", WithOrigin("https://bank.example:8443")},
      {"http://127.0.0.1/", WithOrigin("http://127.0.0.1")},
      {"null", WithOrigin("*")},
      {"", kFixedAnswerHeaders},
      {"httpfoo", kFixedAnswerHeaders},  // begins with "http" but has no "://"
      {"file://x", kFixedAnswerHeaders},
      {"NULL", kFixedAnswerHeaders},
      {"HTTP://upper.example", kFixedAnswerHeaders},
  };
  for (const auto& c : cases) EXPECT_EQ(AnswerCorsHeaders(c.origin), c.expected) << c.origin;
}

TEST(PreflightCors, PrefersOriginThenRefererThenStar) {
  using H = HeaderList;
  EXPECT_EQ(PreflightCorsHeaders({"http://a.example/p", "http://r.example/x", "", "", ""}),
            (H{{"Access-Control-Allow-Origin", "http://a.example/p"}}));
  EXPECT_EQ(PreflightCorsHeaders({"", "http://r.example/path/page.html", "", "", ""}),
            (H{{"Access-Control-Allow-Origin", "http://r.example/path/page.html"}}));
  EXPECT_EQ(PreflightCorsHeaders({"null", "", "", "", ""}), (H{{"Access-Control-Allow-Origin", "*"}}));
  EXPECT_EQ(PreflightCorsHeaders({"", "", "PUT", "x-request-with", "true"}),
            (H{{"Access-Control-Allow-Origin", "*"},
               {"Access-Control-Allow-Method", "PUT"},
               {"Access-Control-Allow-Headers", "x-request-with"},
               {"Access-Control-Allow-Private-Network", "true"}}));
  EXPECT_EQ(PreflightCorsHeaders({"", "", "", "", "TRUE"}), (H{{"Access-Control-Allow-Origin", "*"}}));
}

}  // namespace
}  // namespace vorlink
