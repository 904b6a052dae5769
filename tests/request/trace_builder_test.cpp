#include "request/trace_builder.h"

#include <httplib.h>

#include <gtest/gtest.h>

namespace vorlink {
namespace {

platform::LocalTime Now() { return {2025, 1, 7, 9, 5, 3, 42}; }
const std::string kBegin = "[2025/01/07 09:05:03.042] https Request begin\n";
const std::string kEnd = "[2025/01/07 09:05:03.042] http Request end\n";

std::string RequestTrace(const httplib::Request& r) { return BuildRequestTrace(r, Now); }
std::string ResponseTrace(const httplib::Response& r) { return BuildResponseTrace(r, Now); }

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
  EXPECT_EQ(RequestTrace(r),
            kBegin + "- Method : POST\n- Path : /\n- Headers : \n- Body : DLLToken=1&Param1=\xc3\xa4\n" + kEnd);
  r.body = std::string(1001, 'b');
  EXPECT_NE(RequestTrace(r).find("- Body : " + std::string(1000, 'b') + " ... length = 1001 bytes\n"),
            std::string::npos);
}

TEST(RequestTrace, ParametersAreCutAfterThousandBytes) {
  struct Case {
    std::string value, shown;
  } cases[] = {
      {std::string(1000, 'p'), std::string(1000, 'p') + " , length = 1000 bytes"},
      {std::string(1001, 'p'), std::string(1000, 'p') + " ... length = 1001 bytes"},
      // A cut inside a multi-byte character, and bytes that are not UTF-8.
      {std::string(999, 'p') + "一", std::string(999, 'p') + "\xef\xbf\xbd ... length = 1002 bytes"},
      {"\xff"
       "a",
       "\xef\xbf\xbd"
       "a , length = 2 bytes"},
      // A character beyond U+FFFF stays one four-byte sequence.
      {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80 , length = 4 bytes"},
  };
  for (const auto& c : cases) {
    httplib::Request r;
    r.params = {{"Param1", c.value}};
    EXPECT_NE(RequestTrace(r).find("-- PARAM Param1 = " + c.shown + "\n"), std::string::npos) << c.value.size();
  }
}

// PIN fields show as one star per character wherever the request carries
// them; every other field, and the rest of the line, is shown as before.
TEST(RequestTrace, PinFieldsShowAsStarsInParamLines) {
  struct Case {
    const char* what;
    httplib::Params params;
    std::vector<std::string> lines;  // each must be in the trace
    std::string body = {};           // the raw form the library decoded the parameters from
  } cases[] = {
      {"Login",
       {{"DLLToken", "7"}, {"ExecMethod", "Login"}, {"Param1", "1234"}, {"Param2", "x"}},
       {"-- PARAM Param1 = **** , length = 4 bytes", "-- PARAM Param2 = x , length = 1 bytes",
        "-- PARAM DLLToken = 7 , length = 1 bytes", "-- PARAM ExecMethod = Login , length = 5 bytes"}},
      {"ChangePIN",
       {{"ExecMethod", "ChangePIN"}, {"Param1", "old1"}, {"Param2", "new22"}, {"Param3", "z"}},
       {"-- PARAM Param1 = **** ,", "-- PARAM Param2 = ***** ,", "-- PARAM Param3 = z ,"}},
      {"initSlot",
       {{"ExecMethod", "initSlot"}, {"Param1", "so"}, {"Param2", "user"}},
       {"-- PARAM Param1 = ** ,", "-- PARAM Param2 = **** ,"}},
      {"other methods keep their values",
       {{"ExecMethod", "PKCS7Sign"}, {"Param1", "1234"}},
       {"-- PARAM Param1 = 1234 ,"}},
      {"a method in any case", {{"ExecMethod", "login"}, {"Param1", "1234"}}, {"-- PARAM Param1 = **** ,"}},
      {"any ExecMethod counts, not only the last",
       {{"ExecMethod", "Login"}, {"ExecMethod", "GetVersion"}, {"Param1", "1234"}},
       {"-- PARAM Param1 = **** ,"}},
      {"every copy of a repeated PIN field",
       {{"ExecMethod", "Login"}, {"Param1", "1111"}, {"Param1", "22"}},
       {"-- PARAM Param1 = **** ,", "-- PARAM Param1 = ** ,"}},
      {"characters, not bytes",
       {{"ExecMethod", "Login"}, {"Param1", "密碼\xff"}},
       {"-- PARAM Param1 = *** , length = 7 bytes"}},
      {"fields joined by \";\" in one form field",
       {{"DLLToken", "1234"}},
       {"-- PARAM DLLToken = **** ,"},
       "DLLToken=7;ExecMethod=Login;Param1=1234"},
      {"a key that only loosely names the slot",
       {{"ExecMethod", std::string("Login\0", 6)}, {"Param1 ", "1234"}},
       {"-- PARAM Param1  = **** ,"}},
      {"a long PIN is cut first",
       {{"ExecMethod", "Login"}, {"Param1", std::string(1001, '9')}},
       {"-- PARAM Param1 = " + std::string(1000, '*') + " ... length = 1001 bytes"}},
  };
  for (const auto& c : cases) {
    httplib::Request r;
    r.params = c.params;
    r.body = c.body;
    const std::string trace = RequestTrace(r);
    for (const auto& line : c.lines) EXPECT_NE(trace.find(line), std::string::npos) << c.what << ": " << line;
  }
}

// A body sent as plain text is shown raw; the PIN values in it are found
// the way the request handler decodes them, wherever the method is named.
TEST(RequestTrace, PinFieldsShowAsStarsInARawBody) {
  const std::string tail = std::string(1100, 'x');
  const std::pair<std::string, std::string> cases[] = {
      {"DLLToken=7&ExecMethod=Login&Param1=1234", "DLLToken=7&ExecMethod=Login&Param1=****"},
      {"Param1=1234&DLLToken=7&ExecMethod=Login", "Param1=****&DLLToken=7&ExecMethod=Login"},
      {"Param1=%31%32%33%34&Exec%4Dethod=Log%69n", "Param1=****&Exec%4Dethod=Log%69n"},
      {"Param%31=12+34&ExecMethod=Login", "Param%31=*****&ExecMethod=Login"},
      {"ExecMethod=initSlot&Param2=ab&Param1=c&Param3=d", "ExecMethod=initSlot&Param2=**&Param1=*&Param3=d"},
      {"ExecMethod=Login&Param1=11&Param1=2222", "ExecMethod=Login&Param1=**&Param1=****"},
      {"ExecMethod=Login&Param1=12=34&Param1", "ExecMethod=Login&Param1=*****&Param1"},
      {"ExecMethod=Login&Param1=&Param1=%E5%AF%86", "ExecMethod=Login&Param1=&Param1=*"},
      {"ExecMethod=GetVersion&Param1=1234", "ExecMethod=GetVersion&Param1=1234"},
      // Spellings the dispatch would not run are still hidden.
      {"DLLToken=7;ExecMethod=LOGIN;Param1=1234", "DLLToken=7;ExecMethod=LOGIN;Param1=****"},
      {"ExecMethod=Login%00&Param1+=1234&param1=56", "ExecMethod=Login%00&Param1+=****&param1=**"},
      {"Exec+Method=change%50IN&PARAM%u0032=1234", "Exec+Method=change%50IN&PARAM%u0032=****"},
      {"ExecMethod=Login%3BParam1%3D1234", "ExecMethod=Login%3BParam1%3D****"},
      // The method named after the 1000-byte cut still hides the PIN before it.
      {"Param1=1234&Param9=" + tail + "&ExecMethod=ChangePIN",
       "Param1=****&Param9=" + tail.substr(0, 1000 - 19) + " ... length = 1140 bytes"},
  };
  for (const auto& [body, shown] : cases) {
    httplib::Request r;
    r.method = "POST";
    r.path = "/";
    r.body = body;
    EXPECT_EQ(RequestTrace(r), kBegin + "- Method : POST\n- Path : /\n- Headers : \n- Body : " + shown + "\n" + kEnd)
        << body.substr(0, 60);
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
  EXPECT_NE(ResponseTrace(chinese).find("- Body : ||-1||無效的 Function 名稱||\n- Body length : 33\n"),
            std::string::npos);

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
