// Canonical equivalence on Apple's systems, with Core Foundation's
// normalization, so that the agent needs no library beyond the system's.
#include "control/UnicodeEquivalence.hpp"

#include <CoreFoundation/CoreFoundation.h>

#include <memory>
#include <string>
#include <type_traits>

namespace mirevo::control {
namespace {

struct Release {
  void operator()(CFTypeRef object) const { CFRelease(object); }
};
using OwnedString = std::unique_ptr<std::remove_pointer_t<CFMutableStringRef>, Release>;

// The canonical decomposition (NFD) of `text` behind one ASCII letter, or
// none when `text` is not valid UTF-8. The letter keeps a leading byte order
// mark a character of the text, as utf8proc reads it, rather than a marker
// the decoder may drop; the same letter in front of both sides changes no
// comparison. The length is passed explicitly, so an embedded NUL does not
// end the text.
OwnedString decomposed(std::string_view text) {
  const std::string prefixed = "x" + std::string(text);
  const CFStringRef decoded =
      CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(prefixed.data()),
                              static_cast<CFIndex>(prefixed.size()), kCFStringEncodingUTF8, false);
  if (decoded == nullptr) return nullptr;
  OwnedString result(CFStringCreateMutableCopy(kCFAllocatorDefault, 0, decoded));
  CFRelease(decoded);
  if (result) CFStringNormalize(result.get(), kCFStringNormalizationFormD);
  return result;
}

}  // namespace

bool canonicallyEquivalent(std::string_view left, std::string_view right) {
  if (left == right) return true;
  const auto leftDecomposed = decomposed(left);
  const auto rightDecomposed = decomposed(right);
  return leftDecomposed && rightDecomposed && CFEqual(leftDecomposed.get(), rightDecomposed.get());
}

}  // namespace mirevo::control
