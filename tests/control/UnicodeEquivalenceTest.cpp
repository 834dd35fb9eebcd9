// One table of cases for both implementations: utf8proc's here, Core
// Foundation's on a Mac.
#include "control/UnicodeEquivalence.hpp"

#include <gtest/gtest.h>

#include <string>

namespace mirevo::control {
namespace {

struct EquivalenceCase {
  std::string name;
  std::string left;
  std::string right;
  bool equivalent;
};

const EquivalenceCase kCases[] = {
    {"Identical", "sess-42", "sess-42", true},
    {"BothEmpty", "", "", true},
    {"Different", "sess-42", "sess-43", false},
    {"PrefixOnly", "sess", "sess-42", false},
    {"PrecomposedAndCombining", "caf\xC3\xA9", "cafe\xCC\x81", true},
    {"AccentIsNotDropped", "caf\xC3\xA9", "cafe", false},
    // a + dot below (class 220) + dot above (class 230), in either order.
    {"CombiningMarksReordered", "a\xCC\xA3\xCC\x87", "a\xCC\x87\xCC\xA3", true},
    {"HangulSyllableAndJamo", "\xED\x95\x9C", "\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB", true},
    {"AngstromSignAndLetter", "\xE2\x84\xAB", "\xC3\x85", true},
    // Compatibility forms are not canonical: the ligature "fi" is another text.
    {"LigatureIsNotCanonical", "\xEF\xAC\x81", "fi", false},
    {"CaseMatters", "Sess", "sess", false},
    {"EmbeddedNul", std::string("a\0caf\xC3\xA9", 7), std::string("a\0cafe\xCC\x81", 8), true},
    {"NulEndsNothing", std::string("a\0b", 3), std::string("a\0c", 3), false},
    // A leading byte order mark is a character of the identifier, not a marker.
    {"ByteOrderMarkIsACharacter", "\xEF\xBB\xBFsess", "sess", false},
    {"InvalidUtf8MatchesItself", "\xFF\xFE", "\xFF\xFE", true},
    {"InvalidUtf8MatchesNothingElse", "\xFF", "\xEF\xBF\xBD", false},
};

class EquivalenceTest : public ::testing::TestWithParam<EquivalenceCase> {};

TEST_P(EquivalenceTest, ComparesCanonically) {
  const auto& c = GetParam();
  EXPECT_EQ(canonicallyEquivalent(c.left, c.right), c.equivalent);
  EXPECT_EQ(canonicallyEquivalent(c.right, c.left), c.equivalent);
}

INSTANTIATE_TEST_SUITE_P(Cases, EquivalenceTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace mirevo::control
