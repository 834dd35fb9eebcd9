#include "platform/mac/CompletionAnswer.hpp"

#include <gtest/gtest.h>

#include "SimCompletion.hpp"

namespace mirevo::platform::mac {
namespace {

class CompletionAnswerTest : public ::testing::Test {
 protected:
  sim::SimClock clock;
  SimWaits waits{clock};
  CompletionAnswer<int> answer{waits.factory()()};
};

TEST_F(CompletionAnswerTest, AValueIsReturnedAtOnce) {
  waits.duringWait = [&] { answer.answer(7, std::nullopt); };
  EXPECT_EQ(answer.value("The request", kPromptTimeoutSeconds), 7);
  EXPECT_EQ(clock.hostSeconds(), 0.0);
}

TEST_F(CompletionAnswerTest, TheSystemsErrorIsThrownUnchanged) {
  waits.duringWait = [&] {
    answer.answer(std::nullopt, Error("SCStreamErrorDomain", -3801, "The user declined."));
  };
  try {
    answer.value("The request", kPromptTimeoutSeconds);
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.domain(), "SCStreamErrorDomain");
    EXPECT_EQ(error.code(), -3801);
    EXPECT_EQ(error.localizedDescription(), "The user declined.");
  }
}

TEST_F(CompletionAnswerTest, NeitherValueNorErrorIsNoAnswer) {
  waits.duringWait = [&] { answer.answer(std::nullopt, std::nullopt); };
  try {
    answer.value("The shareable content request", kPromptTimeoutSeconds);
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.code(), static_cast<std::int64_t>(MacErrorCode::noAnswer));
    EXPECT_EQ(error.localizedDescription(),
              "The shareable content request returned neither a result nor an error.");
  }
}

TEST_F(CompletionAnswerTest, NoSignalByTheDeadlineIsATimeoutAndALateAnswerIsIgnored) {
  try {
    answer.value("The microphone permission request", kPromptTimeoutSeconds);
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.code(), static_cast<std::int64_t>(MacErrorCode::timedOut));
    EXPECT_EQ(error.localizedDescription(),
              "The microphone permission request did not finish within 120 seconds.");
  }
  EXPECT_EQ(clock.hostSeconds(), kPromptTimeoutSeconds);
  answer.answer(1, std::nullopt);  // the handler, late: written, never read
}

}  // namespace
}  // namespace mirevo::platform::mac
