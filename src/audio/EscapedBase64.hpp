// Standard base64 (RFC 4648 alphabet, '=' padding, no line breaks) written
// straight into a JSON string body: every '/' of the output comes out as "\/",
// in the same pass, so the audio chunk line needs no second escaping pass.
//
// Two encoders give the same bytes: a portable one and, on x86-64 processors
// that have AVX2, a vector one, chosen once at run time.
//
// Threads: pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mirevo::audio {

// Room the encoders need for `bytes` input bytes: the worst case (every
// character a solidus, so doubled) plus a little slack, because they write
// whole words and advance by less.
constexpr std::size_t escapedBase64Capacity(std::size_t bytes) {
  return (bytes + 2) / 3 * 8 + 8;
}

// Encodes `size` bytes at `data` to `out`, which has room for
// escapedBase64Capacity(size) characters. Returns the end of what it wrote.
char* encodeEscapedBase64(const std::uint8_t* data, std::size_t size, char* out);

// The two encoders behind it, for tests and benchmarks.
char* encodeEscapedBase64Portable(const std::uint8_t* data, std::size_t size, char* out);
// True when the processor can run encodeEscapedBase64Avx2.
bool canEncodeWithAvx2();
// Only where canEncodeWithAvx2() is true; elsewhere the portable encoder.
char* encodeEscapedBase64Avx2(const std::uint8_t* data, std::size_t size, char* out);

}  // namespace mirevo::audio
