#include "platform/mac/MacErrors.hpp"

#include <gtest/gtest.h>

#include "platform/mac/MacDisplays.hpp"

namespace mirevo::platform::mac {
namespace {

TEST(MacErrors, SystemErrorsKeepDomainCodeAndDescription) {
  const Error error =
      errorFromParts("com.apple.ScreenCaptureKit.SCStreamErrorDomain", -3801,
                     "The user declined TCCs for application, window, display capture");
  EXPECT_EQ(error.domain(), "com.apple.ScreenCaptureKit.SCStreamErrorDomain");
  EXPECT_EQ(error.code(), -3801);
  EXPECT_EQ(error.localizedDescription(),
            "The user declined TCCs for application, window, display capture");
}

TEST(MacErrors, MissingPartsGetStandIns) {
  const Error noDescription = errorFromParts("NSOSStatusErrorDomain", -50, nullptr);
  EXPECT_EQ(noDescription.domain(), "NSOSStatusErrorDomain");
  EXPECT_EQ(noDescription.localizedDescription(),
            "The operation failed (NSOSStatusErrorDomain error -50).");
  const Error empty = errorFromParts("", 7, "");
  EXPECT_EQ(empty.domain(), kMacErrorDomain);
  EXPECT_EQ(empty.localizedDescription(), "The operation failed (MirevoPlatform error 7).");
}

TEST(MacErrors, BackendErrorsNameWhatFailed) {
  const Error timeout = timeoutError("Starting the capture", 30.0);
  EXPECT_EQ(timeout.domain(), kMacErrorDomain);
  EXPECT_EQ(timeout.code(), static_cast<std::int64_t>(MacErrorCode::timedOut));
  EXPECT_EQ(timeout.localizedDescription(),
            "Starting the capture did not finish within 30 seconds.");

  const Error noAnswer = noAnswerError("The shareable content request");
  EXPECT_EQ(noAnswer.code(), static_cast<std::int64_t>(MacErrorCode::noAnswer));
  EXPECT_EQ(noAnswer.localizedDescription(),
            "The shareable content request returned neither a result nor an error.");

  EXPECT_EQ(foreignQueueError().code(), static_cast<std::int64_t>(MacErrorCode::foreignQueue));
  EXPECT_EQ(unknownDisplayError().code(), static_cast<std::int64_t>(MacErrorCode::unknownDisplay));
}

TEST(MacDisplays, DisplayIdIsTheDisplayIdInDecimal) {
  const Display display = displayOf(69733382u);
  EXPECT_EQ(display.id, "69733382");
  EXPECT_EQ(display.name, "Display 69733382");
  EXPECT_EQ(display.audioSource, "");
  EXPECT_EQ(displayOf(4294967295u).id, "4294967295");
}

}  // namespace
}  // namespace mirevo::platform::mac
