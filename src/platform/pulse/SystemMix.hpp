// The system's audio as one timeline: the default output's monitor and the
// monitors of the other outputs that play, added where their samples fall at
// the same host time. Each input brings buffers already stamped by its own
// StreamTimeline; the mix hands over buffers stamped the same way.
//
// - The default output's input (kDefaultInput) drives: its buffers come out
//   as they came in, with the samples of the other inputs that fall within
//   them added. While no other input holds audio there, the very buffer that
//   came in is handed on: no copy.
// - A buffer comes out once every open input has reached its end, or once
//   the newest audio of any input is more than TimingLimits::kLateSeconds past it: an
//   input that lags (or a default output that delivers nothing, having no
//   sink or a suspended one) holds the mix back by that much at most. Audio
//   that arrives for a time already handed over is dropped: no time is ever
//   handed over twice.
// - Where the default output has no audio and another input has, that audio
//   comes out in buffers of its own, so that nothing played is missing.
// - An input's samples go on where its last ones ended while its stamps stay
//   within TimingLimits::kAlignSeconds of that place; beyond it (drift of the two clocks,
//   or a gap) they are placed by their stamps again.
// - Samples are added in float and never clamped here: the conversion to 16
//   bits clamps, once.
//
// Threads: not synchronised; the libpulse loop thread (or the worker with the
// connection's lock held) uses it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <vector>

#include "platform/AudioFormat.hpp"
#include "platform/SampleBuffer.hpp"
#include "platform/pulse/PulseSampleBuffer.hpp"
#include "platform/pulse/TimingLimits.hpp"

namespace mirevo::platform::pulse {

class SystemMix {
 public:
  using HandOver = std::function<void(std::shared_ptr<const SampleBuffer>)>;

  // The default output's monitor; always open.
  static constexpr int kDefaultInput = 0;
  // `format` is the inputs' format: interleaved float32.
  SystemMix(const AudioFormat& format, HandOver handOver);

  // An input that joins at `fromSeconds`: the mix waits for its audio from
  // then on (TimingLimits::kLateSeconds at most).
  void open(int input, double fromSeconds);
  // The input delivers no more: what it delivered is still mixed, and the
  // mix no longer waits for it.
  void close(int input);
  void add(int input, std::shared_ptr<const PulseSampleBuffer> buffer);
  // Hands over everything held, as if every input had closed; the mix goes
  // on afterwards with the inputs open.
  void flush();

  // Frames held, not yet handed over.
  std::int64_t heldFrames() const;

 private:
  struct Input {
    std::deque<std::shared_ptr<const PulseSampleBuffer>> held;
    std::int64_t consumed = 0;  // frames of the oldest held buffer already used
    double reached = -std::numeric_limits<double>::infinity();  // the end of its audio
    bool open = true;
    // Where its next frame goes on, in frames from the end of the last
    // buffer handed over, when it took part in it.
    bool continues = false;
    std::int64_t carry = 0;
  };

  double horizon() const;
  void release(double horizon);
  // The buffer that comes out next, if it may by `horizon`.
  bool releaseNext(double horizon);
  void releaseDefault(Input& input, double horizon, bool& released);
  void releaseOthers(double startSeconds, double endSeconds);
  // Adds the other inputs' samples into `samples` (starting at
  // `startSeconds`); answers whether any was added.
  bool mixOthers(std::vector<float>& samples, double startSeconds, int except);
  bool mixInto(Input& input, std::vector<float>& samples, double startSeconds);
  // Drops what the input holds for a time handed over already.
  void dropLate(Input& input);
  void use(Input& input, std::int64_t frames);
  double startOf(const Input& input) const;
  std::int64_t framesLeft(const Input& input) const;
  void handOver(std::vector<float> samples, double startSeconds);
  void forgetClosed();

  AudioFormat format_;
  double rate_;
  std::size_t channels_;
  HandOver handOver_;
  std::map<int, Input> inputs_;
  double handedOverUntil_ = -std::numeric_limits<double>::infinity();
  double newest_ = -std::numeric_limits<double>::infinity();
};

}  // namespace mirevo::platform::pulse
