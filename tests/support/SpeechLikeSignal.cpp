#include "SpeechLikeSignal.hpp"

#include <bit>
#include <cmath>
#include <numbers>

namespace mirevo::testing {
namespace {

// Noise knots a second: the signal's content lies below half of it.
constexpr double kKnotRate = 8000.0;
// Syllables of a quarter second; about one in three is a pause.
constexpr double kSyllableSeconds = 0.25;

std::uint64_t mix(std::uint64_t value) {
  value += 0x9E3779B97F4A7C15ull;
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
  return value ^ (value >> 31);
}

// -1..1 from a hash.
double uniform(std::uint64_t hash) {
  return static_cast<double>(hash >> 11) / static_cast<double>(1ull << 52) - 1.0;
}

}  // namespace

double SpeechLikeSignal::noise(std::int64_t knot) const {
  return uniform(mix(seed_ ^ mix(static_cast<std::uint64_t>(knot))));
}

double SpeechLikeSignal::syllable(double seconds) const {
  const double position = seconds / kSyllableSeconds;
  const double slot = std::floor(position);
  const double loudness = (uniform(mix(~seed_ ^ static_cast<std::uint64_t>(slot))) + 1.0) / 2.0;
  if (loudness < 0.33) return 0.0;
  const double shape = std::sin(std::numbers::pi * (position - slot));
  return loudness * shape * shape;
}

double SpeechLikeSignal::at(double seconds) const {
  // Catmull-Rom through the noise knots: smooth, and the same function
  // wherever it is sampled.
  const double position = seconds * kKnotRate;
  const auto knot = static_cast<std::int64_t>(std::floor(position));
  const double t = position - static_cast<double>(knot);
  const double p0 = noise(knot - 1), p1 = noise(knot), p2 = noise(knot + 1), p3 = noise(knot + 2);
  const double value = 0.5 * (2 * p1 + (-p0 + p2) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t * t +
                              (-p0 + 3 * p1 - 3 * p2 + p3) * t * t * t);
  return 0.6 * value * syllable(seconds);
}

double whiteNoiseAt(std::uint64_t seed, double seconds) {
  return uniform(mix(seed ^ std::bit_cast<std::uint64_t>(seconds)));
}

}  // namespace mirevo::testing
