#include "AnalysisTrack.hpp"

#include <algorithm>
#include <cmath>

namespace mirevo::inspect {

void AnalysisTrack::add(double startMs, std::span<const std::int16_t> samples,
                        std::int64_t sampleRate) {
  if (samples.empty() || sampleRate <= 0 || startMs < 0) return;
  const double samplesPerMs = static_cast<double>(sampleRate) / 1000.0;
  constexpr double kSlotsPerMs = static_cast<double>(kRate) / 1000.0;
  std::size_t next = 0;
  while (next < samples.size()) {
    const double atMs = startMs + static_cast<double>(next) / samplesPerMs;
    const auto slot = static_cast<std::int64_t>(std::floor(atMs * kSlotsPerMs));
    // Sample i lies at startMs + i / samplesPerMs; the ones before the next
    // slot's start share this slot.
    const double nextSlotMs = static_cast<double>(slot + 1) / kSlotsPerMs;
    const double end = std::ceil((nextSlotMs - startMs) * samplesPerMs);
    const std::size_t last =
        std::clamp<std::size_t>(static_cast<std::size_t>(end), next + 1, samples.size());
    if (slot >= first_) {
      const auto at = static_cast<std::size_t>(slot - first_);
      if (at >= sums_.size()) {
        sums_.resize(at + 1, 0.0f);
        counts_.resize(at + 1, 0);
      }
      float sum = 0.0f;
      for (std::size_t i = next; i < last; ++i) sum += static_cast<float>(samples[i]);
      sums_[at] += sum;
      counts_[at] = static_cast<std::uint16_t>(counts_[at] + (last - next));
    }
    next = last;
  }
}

void AnalysisTrack::read(std::int64_t from, std::span<float> out) const {
  for (std::size_t i = 0; i < out.size(); ++i) {
    const std::int64_t at = from + static_cast<std::int64_t>(i) - first_;
    const bool held = at >= 0 && at < static_cast<std::int64_t>(sums_.size());
    const auto index = static_cast<std::size_t>(held ? at : 0);
    out[i] = held && counts_[index] > 0
                 ? sums_[index] / (32768.0f * static_cast<float>(counts_[index]))
                 : 0.0f;
  }
}

void AnalysisTrack::dropBefore(std::int64_t index) {
  if (index <= first_) return;
  const auto count = static_cast<std::size_t>(
      std::min<std::int64_t>(index - first_, static_cast<std::int64_t>(sums_.size())));
  sums_.erase(sums_.begin(), sums_.begin() + static_cast<std::ptrdiff_t>(count));
  counts_.erase(counts_.begin(), counts_.begin() + static_cast<std::ptrdiff_t>(count));
  first_ = index;
}

}  // namespace mirevo::inspect
