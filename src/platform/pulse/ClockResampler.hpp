// Resamples interleaved float audio by a ratio that may change between calls
// (libsamplerate's fastest sinc converter: 97 dB of signal to noise), for
// audio whose device clock runs off the host's by at most a few thousand
// ppm. The ratio is a double and the converter steps through the input by
// exactly that much per output frame, so that whoever counts its frames can
// count exactly what it did. (Speex's resampler holds the ratio as a
// fraction whose denominator must stay under 65536 for its phase to survive
// a change of ratio: steps of 15 ppm and more, too coarse to follow a clock
// to a ppm.)
//
// It starts on audio that went through unchanged before: it is given the
// last historyFrames() frames of that audio, and the output begins right
// after them, with the filter already full of real audio, so that the change
// from passing audio through to resampling it adds no gap, no overlap and no
// click.
//
// Threads: not synchronised; one thread uses it.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

struct SRC_STATE_tag;

namespace mirevo::platform::pulse {

class ClockResampler {
 public:
  explicit ClockResampler(std::size_t channels);
  ~ClockResampler();
  ClockResampler(const ClockResampler&) = delete;
  ClockResampler& operator=(const ClockResampler&) = delete;

  // Frames of the audio before that start() wants: more than the filter
  // reaches back.
  static constexpr std::size_t historyFrames() { return 64; }
  // Begins resampling at `inputPerOutput` (input frames per output frame),
  // after `history`: the last frames of the audio so far (historyFrames() of
  // them, or fewer at the very start). Answers where the first output frame
  // lies, in input frames after the end of the history (0 up to one frame).
  double start(double inputPerOutput, std::span<const float> history);
  bool started() const { return started_; }
  // Passes the audio through again; start() begins anew.
  void stop();
  // Input frames per output frame from the next call on.
  void setRatio(double inputPerOutput);
  double ratio() const { return inputPerOutput_; }
  // Resamples `input` and appends the output to `output`; answers the frames
  // appended.
  std::size_t process(std::span<const float> input, std::vector<float>& output);

 private:
  SRC_STATE_tag* state_ = nullptr;
  std::size_t channels_;
  double inputPerOutput_ = 1.0;
  // Output frames still to drop: those that lie within the history.
  std::size_t toDrop_ = 0;
  bool started_ = false;
};

}  // namespace mirevo::platform::pulse
