#include "LineFormat.hpp"

#include <gtest/gtest.h>

namespace mirevo::inspect {
namespace {

struct FramingCase {
  const char* line;
  const char* problemStart;  // nullptr when the line is well framed
};

TEST(LineFormat, FindsWhitespaceUnescapedSolidusAndCarriageReturn) {
  const FramingCase cases[] = {
      {R"({"a":"x y","b":[1,2]})", nullptr},
      {R"({"dataBase64":"\/\/8A"})", nullptr},
      {R"({"a":"quote \" then \/"})", nullptr},
      {R"({"a":"ends in a backslash \\"})", nullptr},
      {R"({"a": 1})", "is not compact"},
      {R"({"a":1 })", "is not compact"},
      {"{\"a\":1,\t\"b\":2}", "is not compact"},
      {R"({"dataBase64":"//8A"})", "has an unescaped '/'"},
      {R"({"a":"escaped backslash then solidus \\/"})", "has an unescaped '/'"},
      {"{\"a\":1}\r", "ends in a carriage return"},
  };
  for (const auto& [line, problemStart] : cases) {
    const auto problem = findFramingProblem(line);
    if (problemStart == nullptr) {
      EXPECT_FALSE(problem) << line << ": " << *problem;
    } else {
      ASSERT_TRUE(problem) << line;
      EXPECT_TRUE(problem->starts_with(problemStart)) << line << ": " << *problem;
    }
  }
}

TEST(LineFormat, KeysMustAscendAtEveryLevel) {
  const std::pair<const char*, bool> cases[] = {
      {R"({"channels":1,"dataBase64":"","type":"x"})", true},
      {R"({"devices":[{"id":"a","isDefault":true,"kind":"k","label":"l"}],"type":"devices"})",
       true},
      {R"({"type":"x","channels":1})", false},
      {R"({"devices":[{"label":"l","id":"a"}],"type":"devices"})", false},
      {R"({"a":1,"a":2})", false},
      {R"({"Z":1,"a":2})", true},  // byte order: capitals first
  };
  for (const auto& [line, ordered] : cases) {
    const auto problem = findKeyOrderProblem(line);
    EXPECT_EQ(!problem, ordered) << line;
  }
}

}  // namespace
}  // namespace mirevo::inspect
