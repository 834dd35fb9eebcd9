// One source's audio as the lag analysis reads it: brought down to 8000
// samples a second, each the mean of the source's samples within its 1/8000 s
// (the sounds that give the lag away, speech and music, lie mostly below
// 4 kHz), placed by time so that gaps stay silent. It holds only the stretch
// not yet analysed.
//
// Threads: one caller at a time.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace mirevo::inspect {

class AnalysisTrack {
 public:
  static constexpr std::int64_t kRate = 8000;

  // `samples` at `sampleRate`, the first at `startMs` from the recording's
  // start. Audio before what was dropped is ignored.
  void add(double startMs, std::span<const std::int16_t> samples, std::int64_t sampleRate);

  // One past the last analysis sample written, counted from the recording's start.
  std::int64_t end() const { return first_ + static_cast<std::int64_t>(sums_.size()); }

  // Analysis samples [from, from + out.size()) as -1..1, silence where none was written.
  void read(std::int64_t from, std::span<float> out) const;

  // Whether any audio fell within [from, from + count) (silence counts; a gap
  // does not).
  bool holdsAudio(std::int64_t from, std::int64_t count) const;

  // Forgets every analysis sample before `index`.
  void dropBefore(std::int64_t index);

  // Forgets everything and frees its room: the recording is over.
  void release();

 private:
  // The sums of slots [from, from + count), made room for; `from` not dropped.
  float* slots(std::int64_t from, std::int64_t count);
  // The quick way when every slot holds the same number of whole samples;
  // false when they do not.
  bool addWholeSlots(double startMs, std::span<const std::int16_t> samples,
                     std::int64_t sampleRate);

  std::int64_t first_ = 0;  // the analysis sample sums_[0] stands for
  std::vector<float> sums_;
  std::vector<std::uint16_t> counts_;
};

}  // namespace mirevo::inspect
