#include "platform/mac/MacErrors.hpp"

#include <cmath>
#include <string>

namespace mirevo::platform::mac {
namespace {

Error macError(MacErrorCode code, std::string description) {
  return Error(kMacErrorDomain, static_cast<std::int64_t>(code), std::move(description));
}

}  // namespace

Error errorFromParts(const char* domain, std::int64_t code, const char* description) {
  const std::string domainText = domain != nullptr && *domain != '\0' ? domain : kMacErrorDomain;
  std::string text = description != nullptr ? description : "";
  if (text.empty())
    text = "The operation failed (" + domainText + " error " + std::to_string(code) + ").";
  return Error(domainText, code, std::move(text));
}

Error timeoutError(std::string_view operation, double seconds) {
  const long long whole = std::llround(seconds);
  return macError(MacErrorCode::timedOut, std::string(operation) + " did not finish within " +
                                              std::to_string(whole) + " seconds.");
}

Error noAnswerError(std::string_view operation) {
  return macError(MacErrorCode::noAnswer,
                  std::string(operation) + " returned neither a result nor an error.");
}

Error foreignQueueError() {
  return macError(MacErrorCode::foreignQueue,
                  "A stream output needs a queue made by the macOS platform.");
}

Error unknownDisplayError() {
  return macError(MacErrorCode::unknownDisplay, "The display to capture is no longer available.");
}

}  // namespace mirevo::platform::mac
