#include "request/trace_builder.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include "request/text_codec.h"

namespace vorlink {
namespace {

platform::LocalTime Now() { return {2025, 1, 7, 9, 5, 3, 42}; }
const std::string kBegin = "[2025/01/07 09:05:03.042] https Request begin\n";
const std::string kEnd = "[2025/01/07 09:05:03.042] http Request end\n";

std::string RequestTrace(const httplib::Request& r) { return EncodeUtf8(BuildRequestTrace(r, Now)); }
std::string ResponseTrace(const httplib::Response& r) { return EncodeUtf8(BuildResponseTrace(r, Now)); }

TEST(RequestTrace, FormFieldsShowAsParamLines) {
  httplib::Request r;
  r.method = "POST";
  r.path = "/ORVA";
  r.headers = {{"Content-Type", "application/x-www-form-urlencoded"}, {"Host", "localhost:48200"}};
  r.params = {{"DLLToken", "12"}, {"Param1", "一"}};
  r.body = "DLLToken=12&Param1=%E4%B8%80";
  EXPECT_EQ(RequestTrace(r), kBegin +
                                 "- Method : POST\n- Path : /ORVA\n- Headers : \n"
                                 "-- Content-Type : application/x-www-form-urlencoded\n"
                                 "-- Host : localhost:48200\n"
                                 "- Body :\n"
                                 "-- PARAM DLLToken = 12 , length = 2 bytes\n"
                                 "-- PARAM Param1 = 一 , length = 3 bytes\n" +
                                 kEnd);
}

TEST(RequestTrace, APlainTextBodyShowsRawAndWidened) {
  httplib::Request r;
  r.method = "POST";
  r.path = "/";
  r.body = "DLLToken=1&Param1=\xe4";
  EXPECT_EQ(RequestTrace(r), kBegin + "- Method : POST\n- Path : /\n- Headers : \n- Body : DLLToken=1&Param1=\xc3\xa4\n" + kEnd);
  r.body = std::string(1001, 'b');
  EXPECT_NE(RequestTrace(r).find("- Body : " + std::string(1000, 'b') + " ... length = 1001 bytes\n"), std::string::npos);
}

TEST(RequestTrace, ParametersAreCutAfterThousandBytes) {
  struct Case {
    std::string value, shown;
  } cases[] = {
      {std::string(1000, 'p'), std::string(1000, 'p') + " , length = 1000 bytes"},
      {std::string(1001, 'p'), std::string(1000, 'p') + " ... length = 1001 bytes"},
      // A cut inside a multi-byte character, and bytes that are not UTF-8.
      {std::string(999, 'p') + "一", std::string(999, 'p') + "\xef\xbf\xbd ... length = 1002 bytes"},
      {"\xff" "a", "\xef\xbf\xbd" "a , length = 2 bytes"},
  };
  for (const auto& c : cases) {
    httplib::Request r;
    r.params = {{"Param1", c.value}};
    EXPECT_NE(RequestTrace(r).find("-- PARAM Param1 = " + c.shown + "\n"), std::string::npos) << c.value.size();
  }
}

TEST(ResponseTrace, ShowsHeadersBodyAndLength) {
  httplib::Response pre;
  pre.status = 204;
  pre.headers = {{"Access-Control-Allow-Origin", "*"}};
  EXPECT_EQ(ResponseTrace(pre),
            "[2025/01/07 09:05:03.042] https Response begin\n- Headers : \n-- Access-Control-Allow-Origin : *\n"
            "- Body : \n- Body length : 0\n[2025/01/07 09:05:03.042] https Response end\n");

  httplib::Response chinese;
  chinese.body = "||-1||無效的 Function 名稱||";
  EXPECT_NE(ResponseTrace(chinese).find("- Body : ||-1||無效的 Function 名稱||\n- Body length : 33\n"), std::string::npos);

  // Above 1000 bytes the first 1000 are shown byte by byte, not decoded.
  httplib::Response big;
  std::string body;
  while (body.size() < 1002) body += "無";
  big.body = body;
  const std::string trace = ResponseTrace(big);
  EXPECT_NE(trace.find(" ... length = 1002 bytes\n- Body length : 1002\n"), std::string::npos);
  EXPECT_EQ(trace.find("無"), std::string::npos);
}

}  // namespace
}  // namespace vorlink
