// How much later the microphone has a sound than the system audio, over the
// recording: both sources are cut into windows of a few seconds on the
// recording's time axis, and each window's lag is the peak of their GCC-PHAT
// correlation. A window finds a common sound only when that peak stands far
// above the correlation's chance level; two unrelated sources find none.
//
// Memory stays bounded however long the stream: each source keeps only the
// audio not yet analysed. When one source runs more than two minutes ahead
// of the other (a source that stopped delivering), the windows behind it are
// analysed with what the other has, and audio arriving later for them is
// left out. Time in which neither source has audio (a gap in both, a jump far
// ahead) is skipped: it has no windows.
//
// Threads: one caller at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "AnalysisTrack.hpp"
#include "GccPhat.hpp"

namespace mirevo::inspect {

struct LagWindow {
  double startMs = 0.0;
  double lengthMs = 0.0;
  std::optional<double> lagMs;  // nothing: no common sound in the window
  double coherence = 0.0;       // the peak's height, 0 to 1 (GccPhat)
};

class LagEstimator {
 public:
  static constexpr double kWindowMs = 4000.0;
  static constexpr double kMaxLagMs = 500.0;

  void addMicrophone(double startMs, std::span<const std::int16_t> samples,
                     std::int64_t sampleRate);
  void addSystem(double startMs, std::span<const std::int16_t> samples, std::int64_t sampleRate);

  // Analyses what is left, the last window too when it is at least half
  // long, and lets go of all but the windows' results.
  void finish();

  const std::vector<LagWindow>& windows() const { return windows_; }

 private:
  // Before audio from `startMs` on: analyses or skips the windows too far
  // behind it, so that no track ever holds more than the lead.
  void catchUpTo(double startMs);
  void analyseReadyWindows(bool atEnd);
  void analyse(std::int64_t length);

  AnalysisTrack microphone_;
  AnalysisTrack system_;
  std::unique_ptr<GccPhat> correlator_;  // made at the first window
  std::vector<float> microphoneWindow_;
  std::vector<float> systemWindow_;
  std::int64_t nextWindow_ = 0;  // the analysis sample the next window starts at
  std::vector<LagWindow> windows_;
};

}  // namespace mirevo::inspect
