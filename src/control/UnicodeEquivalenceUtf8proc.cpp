#include "control/UnicodeEquivalence.hpp"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

namespace mirevo::control {
namespace {

// The NFC form of `text`, or none when it is not valid UTF-8. The length is
// passed explicitly, so an embedded NUL does not end the text.
std::optional<std::string> composed(std::string_view text) {
  utf8proc_uint8_t* result = nullptr;
  const utf8proc_ssize_t length =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                   static_cast<utf8proc_ssize_t>(text.size()), &result,
                   static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  if (length < 0) return std::nullopt;
  std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owned(result, &std::free);
  return std::string(reinterpret_cast<const char*>(result), static_cast<std::size_t>(length));
}

}  // namespace

bool canonicallyEquivalent(std::string_view left, std::string_view right) {
  if (left == right) return true;
  const auto leftComposed = composed(left);
  const auto rightComposed = composed(right);
  return leftComposed && rightComposed && *leftComposed == *rightComposed;
}

}  // namespace mirevo::control
