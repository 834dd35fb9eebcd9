#include "Envelope.hpp"

#include <algorithm>
#include <cmath>

namespace mirevo::inspect {
namespace {

void merge(EnvelopeColumn& into, const EnvelopeColumn& from) {
  if (!from.hasAudio) return;
  if (!into.hasAudio) {
    into = from;
    return;
  }
  into.minimum = std::min(into.minimum, from.minimum);
  into.maximum = std::max(into.maximum, from.maximum);
}

}  // namespace

Envelope::Envelope(std::size_t bucketCount) : buckets_(std::max<std::size_t>(bucketCount, 2)) {}

void Envelope::widenUntilItHolds(double ms) {
  while (ms >= bucketMs_ * static_cast<double>(buckets_.size())) {
    const std::size_t half = buckets_.size() / 2;
    for (std::size_t i = 0; i < half; ++i) {
      EnvelopeColumn joined = buckets_[2 * i];
      merge(joined, buckets_[2 * i + 1]);
      buckets_[i] = joined;
    }
    std::fill(buckets_.begin() + static_cast<std::ptrdiff_t>(half), buckets_.end(),
              EnvelopeColumn{});
    bucketMs_ *= 2;
  }
}

void Envelope::add(double startMs, std::span<const std::int16_t> samples, std::int64_t sampleRate) {
  if (samples.empty() || sampleRate <= 0 || startMs < 0) return;
  const double samplesPerMs = static_cast<double>(sampleRate) / 1000.0;
  widenUntilItHolds(startMs + static_cast<double>(samples.size() - 1) / samplesPerMs);
  std::size_t first = 0;
  while (first < samples.size()) {
    const double atMs = startMs + static_cast<double>(first) / samplesPerMs;
    const auto bucket = static_cast<std::size_t>(atMs / bucketMs_);
    // The samples before the next bucket's start: sample i lies at
    // startMs + i / samplesPerMs.
    const double nextStart = static_cast<double>(bucket + 1) * bucketMs_;
    const double end = std::ceil((nextStart - startMs) * samplesPerMs);
    const std::size_t last =
        std::clamp<std::size_t>(static_cast<std::size_t>(end), first + 1, samples.size());
    // Plain values rather than minmax_element's iterators: the compiler
    // vectorises this loop.
    std::int16_t low = samples[first];
    std::int16_t high = samples[first];
    for (std::size_t i = first + 1; i < last; ++i) {
      low = std::min(low, samples[i]);
      high = std::max(high, samples[i]);
    }
    merge(buckets_[std::min(bucket, buckets_.size() - 1)], {low, high, true});

    first = last;
  }
}

std::vector<EnvelopeColumn> Envelope::columns(std::size_t count, double spanMs) const {
  std::vector<EnvelopeColumn> columns(count);
  if (count == 0 || spanMs <= 0) return columns;
  const double columnMs = spanMs / static_cast<double>(count);
  for (std::size_t i = 0; i < buckets_.size(); ++i) {
    if (!buckets_[i].hasAudio) continue;
    const auto column = static_cast<std::size_t>(static_cast<double>(i) * bucketMs_ / columnMs);
    if (column < count) merge(columns[column], buckets_[i]);
  }
  return columns;
}

}  // namespace mirevo::inspect
