#include "AnalysisTrack.hpp"

#include <algorithm>
#include <cmath>

namespace mirevo::inspect {

float* AnalysisTrack::slots(std::int64_t from, std::int64_t count) {
  const auto needed = static_cast<std::size_t>(from + count - first_);
  if (needed > sums_.size()) {
    sums_.resize(needed, 0.0f);
    counts_.resize(needed, 0);
  }
  return sums_.data() + (from - first_);
}

bool AnalysisTrack::addWholeSlots(double startMs, std::span<const std::int16_t> samples,
                                  std::int64_t sampleRate) {
  const double startSlot = startMs * static_cast<double>(kRate) / 1000.0;
  if (sampleRate % kRate != 0 || startSlot != std::floor(startSlot)) return false;
  const auto perSlot = static_cast<std::size_t>(sampleRate / kRate);
  const auto first = static_cast<std::int64_t>(startSlot);
  const auto count = static_cast<std::int64_t>((samples.size() + perSlot - 1) / perSlot);
  if (first < first_) return false;  // partly too late: sample by sample
  float* sums = slots(first, count);
  std::uint16_t* counts = counts_.data() + (first - first_);
  for (std::size_t i = 0, slot = 0; i < samples.size(); i += perSlot, ++slot) {
    const std::size_t end = std::min(samples.size(), i + perSlot);
    std::int32_t sum = 0;
    for (std::size_t j = i; j < end; ++j) sum += samples[j];
    sums[slot] += static_cast<float>(sum);
    counts[slot] = static_cast<std::uint16_t>(counts[slot] + (end - i));
  }
  return true;
}

void AnalysisTrack::add(double startMs, std::span<const std::int16_t> samples,
                        std::int64_t sampleRate) {
  if (samples.empty() || sampleRate <= 0 || startMs < 0) return;
  // The common case, the agent's 48 kHz from a whole millisecond on.
  if (addWholeSlots(startMs, samples, sampleRate)) return;
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
      float sum = 0.0f;
      for (std::size_t i = next; i < last; ++i) sum += static_cast<float>(samples[i]);
      *slots(slot, 1) += sum;
      std::uint16_t& count = counts_[static_cast<std::size_t>(slot - first_)];
      count = static_cast<std::uint16_t>(count + (last - next));
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

bool AnalysisTrack::holdsAudio(std::int64_t from, std::int64_t count) const {
  const std::int64_t begin = std::max<std::int64_t>(from - first_, 0);
  const std::int64_t end =
      std::min<std::int64_t>(from + count - first_, static_cast<std::int64_t>(counts_.size()));
  for (std::int64_t at = begin; at < end; ++at)
    if (counts_[static_cast<std::size_t>(at)] > 0) return true;
  return false;
}

void AnalysisTrack::dropBefore(std::int64_t index) {
  if (index <= first_) return;
  const auto count = static_cast<std::size_t>(
      std::min<std::int64_t>(index - first_, static_cast<std::int64_t>(sums_.size())));
  sums_.erase(sums_.begin(), sums_.begin() + static_cast<std::ptrdiff_t>(count));
  counts_.erase(counts_.begin(), counts_.begin() + static_cast<std::ptrdiff_t>(count));
  first_ = index;
}

void AnalysisTrack::release() {
  first_ = end();
  // Assigning {} would keep the room (it is an empty list assigned).
  sums_ = std::vector<float>();
  counts_ = std::vector<std::uint16_t>();
}

}  // namespace mirevo::inspect
