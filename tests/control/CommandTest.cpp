#include "control/Command.hpp"

#include <gtest/gtest.h>

#include <string>

#include "platform/Error.hpp"

namespace mirevo::control {
namespace {

struct DecodedCase {
  std::string name;
  std::string line;
  Command command;
};

const DecodedCase kDecodedCases[] = {
    {"TypeOnly", R"({"type":"list_devices"})", {"list_devices", {}, {}, {}}},
    {"AllFields",
     R"({"type":"start","sessionId":"sess-42","jobId":"job-7","microphoneDeviceId":"usb-3"})",
     {"start", "sess-42", "job-7", "usb-3"}},
    {"NullMeansNoValue",
     R"({"type":"stop","sessionId":null,"jobId":null,"microphoneDeviceId":null})",
     {"stop", {}, {}, {}}},
    {"EmptyStringsAreValues",
     R"({"type":"","sessionId":"","jobId":"","microphoneDeviceId":""})",
     {"", "", "", ""}},
    {"OtherKeysIgnoredWhateverTheyHold",
     R"({"type":"list_devices","extra":[1,{"a":null}],"Type":5,"sessionid":false,"x":{}})",
     {"list_devices", {}, {}, {}}},
    {"WhitespaceAroundTheObject", " \t{ \"type\" : \"stop\" }\t ", {"stop", {}, {}, {}}},
    {"EscapesDecoded",
     R"({"type":"st\u006fp","sessionId":"caf\u00e9 \/"})",
     {"stop", "caf\xC3\xA9 /", {}, {}}},
    {"UnicodeKept",
     "{\"type\":\"stop\",\"sessionId\":\"\xE2\x86\x92\"}",
     {"stop", "\xE2\x86\x92", {}, {}}},
    {"FieldOrderFree", R"({"sessionId":"s","type":"stop"})", {"stop", "s", {}, {}}},
};

class DecodeTest : public ::testing::TestWithParam<DecodedCase> {};

TEST_P(DecodeTest, YieldsTheCommand) {
  const Command command = decodeCommand(GetParam().line);
  const Command& expected = GetParam().command;
  EXPECT_EQ(command.type, expected.type);
  EXPECT_EQ(command.sessionId, expected.sessionId);
  EXPECT_EQ(command.jobId, expected.jobId);
  EXPECT_EQ(command.microphoneDeviceId, expected.microphoneDeviceId);
}

INSTANTIATE_TEST_SUITE_P(Cases, DecodeTest, ::testing::ValuesIn(kDecodedCases),
                         [](const auto& info) { return info.param.name; });

struct RejectedCase {
  std::string name;
  std::string line;
  std::string description;
};

const std::string kNotJson = "The command is not valid JSON.";
const std::string kNotObject = "The command is not a JSON object.";
const std::string kNoType = "The command has no \"type\".";

const RejectedCase kRejectedCases[] = {
    {"Empty", "", kNotJson},
    {"Spaces", "   ", kNotJson},
    {"Malformed", R"({"type":)", kNotJson},
    {"TrailingComma", R"({"type":"stop",})", kNotJson},
    {"SingleQuotes", "{'type':'stop'}", kNotJson},
    {"TrailingGarbage", R"({"type":"stop"}x)", kNotJson},
    {"TwoObjects", R"({"type":"stop"}{"type":"stop"})", kNotJson},
    {"Comment", R"({"type":"stop"} // stop)", kNotJson},
    {"InvalidUtf8InValue", "{\"type\":\"st\xFFop\"}", kNotJson},
    {"InvalidUtf8InIgnoredKey", "{\"type\":\"stop\",\"x\":\"\xC3\"}", kNotJson},
    {"LoneSurrogate", R"({"type":"stop","sessionId":"\ud800"})", kNotJson},
    {"NulInString", std::string("{\"type\":\"st\0op\"}", 16), kNotJson},
    {"NulAfterObject", std::string("{\"type\":\"stop\"}\0", 16), kNotJson},
    {"NulBeforeGarbage", std::string("{\"type\":\"stop\"}\0}}", 18), kNotJson},
    {"Array", R"([{"type":"stop"}])", kNotObject},
    {"Number", "42", kNotObject},
    {"String", R"("stop")", kNotObject},
    {"Null", "null", kNotObject},
    {"Boolean", "true", kNotObject},
    {"EmptyObject", "{}", kNoType},
    {"NullType", R"({"type":null})", kNoType},
    {"SessionWithoutType", R"({"sessionId":"s"})", kNoType},
    {"TypeKeyInCapitals", R"({"Type":"stop"})", kNoType},
    {"NumericType", R"({"type":5})", "The command's \"type\" is not a string."},
    {"BooleanType", R"({"type":true})", "The command's \"type\" is not a string."},
    {"ObjectType", R"({"type":{}})", "The command's \"type\" is not a string."},
    {"NumericSession", R"({"type":"stop","sessionId":42})",
     "The command's \"sessionId\" is not a string."},
    {"BooleanJob", R"({"type":"start","sessionId":"s","jobId":false})",
     "The command's \"jobId\" is not a string."},
    {"ArrayDevice", R"({"type":"start","microphoneDeviceId":["m"]})",
     "The command's \"microphoneDeviceId\" is not a string."},
    {"ObjectDevice", R"({"type":"start","microphoneDeviceId":{}})",
     "The command's \"microphoneDeviceId\" is not a string."},
    {"TypeCheckedFirst", R"({"sessionId":1,"type":2})", "The command's \"type\" is not a string."},
};

class RejectTest : public ::testing::TestWithParam<RejectedCase> {};

TEST_P(RejectTest, ThrowsADescribedError) {
  try {
    decodeCommand(GetParam().line);
    FAIL() << "decoded";
  } catch (const platform::Error& error) {
    EXPECT_EQ(error.domain(), kCommandErrorDomain);
    EXPECT_EQ(error.localizedDescription(), GetParam().description);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, RejectTest, ::testing::ValuesIn(kRejectedCases),
                         [](const auto& info) { return info.param.name; });

// Deep nesting in an ignored key must neither crash nor count as a command.
TEST(DecodeDepthTest, SurvivesDeepNestingWithinTheLineLimit) {
  constexpr std::size_t kDepth = 400000;
  const std::string line =
      R"({"x":)" + std::string(kDepth, '[') + std::string(kDepth, ']') + R"(,"type":"stop"})";
  EXPECT_EQ(decodeCommand(line).type, "stop");
}

}  // namespace
}  // namespace mirevo::control
