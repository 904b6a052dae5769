#include "request/field_parser.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include "request/answer.h"
#include "request/messages.h"

namespace vorlink {
namespace {

// Records what the parser hands on, and answers with a marker.
struct RecordingServices : InitDllService, TokenCallService {
  std::string HandleInitDll(std::string_view value, const PageOrigin& origin) override {
    init_values.emplace_back(value);
    origins.push_back(origin);
    return "init";
  }
  std::string LookupAndCall(std::string_view token, const ArgumentArray& a, const PageOrigin& origin) override {
    tokens.emplace_back(token);
    args = a;
    origins.push_back(origin);
    return "call";
  }
  std::vector<std::string> init_values, tokens;
  std::vector<PageOrigin> origins;
  ArgumentArray args;
};

class FieldParserTest : public ::testing::Test {
 protected:
  std::string Parse(const FieldMap& fields, const PageOrigin& origin = std::nullopt) {
    return FieldParser(services_, services_).Parse(fields, origin);
  }
  RecordingServices services_;
};

TEST_F(FieldParserTest, ChoosesBetweenInitDllAndCall) {
  EXPECT_EQ(Parse({}), "");
  EXPECT_EQ(Parse({{"Foo", "1"}}), TextAnswer(-1, messages::kCgiContentError));
  EXPECT_EQ(Parse({{"dlltoken", "5"}}), TextAnswer(-1, messages::kCgiContentError));
  EXPECT_EQ(Parse({{"InitDLL", "PKCS11"}, {"DLLToken", "5"}}), "init");
  EXPECT_EQ(Parse({{"DLLToken", "5"}, {"ExecMethod", "Login"}}), "call");
  EXPECT_EQ(services_.init_values, std::vector<std::string>{"PKCS11"});
}

TEST_F(FieldParserTest, TheOriginReachesInitDllAndTheCallUnchanged) {
  const PageOrigin origins[] = {std::nullopt, "", "https://a.example", "null"};
  for (const auto& origin : origins) {
    Parse({{"InitDLL", "PKCS11"}}, origin);
    Parse({{"DLLToken", "5"}, {"ExecMethod", "Login"}}, origin);
  }
  EXPECT_EQ(services_.origins, (std::vector<PageOrigin>{std::nullopt, std::nullopt, "", "", "https://a.example",
                                                        "https://a.example", "null", "null"}));
}

TEST_F(FieldParserTest, FirstDllTokenAndInitDllButLastExecMethodWin) {
  Parse({{"DLLToken", "11"},
         {"DLLToken", "22"},
         {"ExecMethod", "A"},
         {"ExecMethod", "B"},
         {"Param3", "x"},
         {"Param3", "y"}});
  EXPECT_EQ(services_.tokens.back(), "11");
  EXPECT_EQ(services_.args[0], u"B");
  EXPECT_EQ(services_.args[3], u"y");
  Parse({{"InitDLL", "CARD"}, {"InitDLL", "PKCS11"}});
  EXPECT_EQ(services_.init_values.back(), "CARD");
}

TEST_F(FieldParserTest, BuildsTheArgumentArray) {
  Parse({{"DLLToken", "7"}, {"Param1", "一"}, {"Param9", "9"}, {"Param10", "no"}, {"param2", "no"}, {"Param0", "no"}});
  EXPECT_EQ(services_.args[0], u"7");  // no ExecMethod: the token text stays in slot 0
  EXPECT_EQ(services_.args[1], u"一");
  EXPECT_EQ(services_.args[2], u"");
  EXPECT_EQ(services_.args[9], u"9");
}

TEST_F(FieldParserTest, InvalidUtf8InAnArgumentIsABadConversion) {
  EXPECT_THROW(Parse({{"DLLToken", "7"}, {"Param1", "\xff"}}), std::range_error);
  EXPECT_THROW(Parse({{"DLLToken", "\xc3"}}), std::range_error);
  // The InitDLL value is used as raw bytes.
  EXPECT_EQ(Parse({{"InitDLL", "\xff"}}), "init");
}

TEST(TakeFieldMap, UsesParamsOrDecodesTheBodyAsQueryText) {
  httplib::Request form;
  form.params = {{"DLLToken", "1"}};
  form.body = "ignored=1";
  EXPECT_EQ(TakeFieldMap(form), (FieldMap{{"DLLToken", "1"}}));

  httplib::Request text;
  text.body = "DLLToken=1&ExecMethod=Get%20Version&Param1=a+b&Param1=c";
  EXPECT_EQ(TakeFieldMap(text),
            (FieldMap{{"DLLToken", "1"}, {"ExecMethod", "Get Version"}, {"Param1", "a b"}, {"Param1", "c"}}));
}

}  // namespace
}  // namespace vorlink
