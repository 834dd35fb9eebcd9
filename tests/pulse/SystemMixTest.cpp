// The system's mix on scripted timelines: buffers stamped as the record streams'
// timelines stamp them, added in the order they would arrive.
#include "platform/pulse/SystemMix.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "audio/MonoMix.hpp"
#include "platform/PcmBuffer.hpp"

namespace mirevo::platform::pulse {
namespace {

constexpr double kRate = 48000.0;
constexpr std::int64_t kBufferFrames = 9600;  // 200 ms, as the record streams hand over
constexpr double kBufferSeconds = static_cast<double>(kBufferFrames) / kRate;
constexpr int kOther = 1;

AudioFormat mono() {
  AudioFormat format;
  format.sampleRate = kRate;
  format.channelCount = 1;
  format.interleaved = true;
  format.sampleType = SampleType::float32;
  return format;
}

std::shared_ptr<const PulseSampleBuffer> bufferOf(std::vector<float> samples, double start) {
  return std::make_shared<PulseSampleBuffer>(mono(), std::move(samples), start);
}

std::shared_ptr<const PulseSampleBuffer> constant(float value, double start,
                                                  std::int64_t frames = kBufferFrames) {
  return bufferOf(std::vector<float>(static_cast<std::size_t>(frames), value), start);
}

struct HandedOver {
  std::shared_ptr<const SampleBuffer> buffer;
  const PulseSampleBuffer& pulse() const { return static_cast<const PulseSampleBuffer&>(*buffer); }
  double start() const { return buffer->presentationSeconds(); }
  double end() const { return start() + static_cast<double>(buffer->numSamples()) / kRate; }
};

class SystemMixTest : public ::testing::Test {
 protected:
  // The frames handed over, by their place on the host clock; each
  // buffer's frames after the previous one's.
  std::vector<float> samplesFrom(double startSeconds) const {
    std::vector<float> samples;
    for (const auto& out : out_) {
      const auto at = std::llround((out.start() - startSeconds) * kRate);
      EXPECT_EQ(at, static_cast<std::int64_t>(samples.size())) << "a gap or an overlap";
      samples.insert(samples.end(), out.pulse().samples().begin(), out.pulse().samples().end());
    }
    return samples;
  }
  double handedOverUntil() const { return out_.empty() ? -1.0 : out_.back().end(); }
  // Each buffer starts where the one before ended.
  void expectOneTimeline() const {
    for (std::size_t i = 1; i < out_.size(); ++i) {
      EXPECT_NEAR(out_[i].start(), out_[i - 1].end(), 1e-9) << "buffer " << i;
    }
  }

  std::vector<HandedOver> out_;
  SystemMix mix_{mono(), [this](std::shared_ptr<const SampleBuffer> buffer) {
                   out_.push_back({std::move(buffer)});
                 }};
};

TEST_F(SystemMixTest, TheDefaultOutputAlonePassesThroughAsItCame) {
  std::vector<std::shared_ptr<const PulseSampleBuffer>> given;
  for (int i = 0; i < 5; ++i) {
    given.push_back(constant(0.25f, 10.0 + i * kBufferSeconds));
    mix_.add(SystemMix::kDefaultInput, given.back());
    // At once: the default output waits for nothing.
    ASSERT_EQ(out_.size(), given.size());
    EXPECT_EQ(out_.back().buffer, given.back()) << "the very buffer, not a copy";
  }
  EXPECT_EQ(mix_.heldFrames(), 0);
}

TEST_F(SystemMixTest, TwoOutputsWithDriftingClocksAddUpAtTheirHostTimes) {
  // The other output's clock runs 500 ppm slow against the host's: its
  // timeline stamps its buffers ever further apart than their samples. Each
  // of its samples carries its own number (modulo 1000, plus one).
  constexpr double kSlow = 1.0005;
  constexpr double kOffset = 0.0013;
  constexpr int kBuffers = 100;  // 20 s
  std::vector<double> otherStarts;
  for (int i = 0; i < kBuffers; ++i) {
    mix_.add(SystemMix::kDefaultInput, constant(0.0f, i * kBufferSeconds));
    std::vector<float> samples(kBufferFrames);
    for (std::int64_t j = 0; j < kBufferFrames; ++j) {
      samples[static_cast<std::size_t>(j)] = static_cast<float>((i * kBufferFrames + j) % 1000 + 1);
    }
    otherStarts.push_back(kOffset + i * kBufferSeconds * kSlow);
    mix_.add(kOther, bufferOf(std::move(samples), otherStarts.back()));
  }
  mix_.flush();
  expectOneTimeline();
  const std::vector<float> mixed = samplesFrom(0.0);
  const auto align = std::llround(TimingLimits::kAlignSeconds * kRate);
  std::int64_t withOther = 0;
  int jumps = 0;
  long previous = -1;
  for (std::size_t frame = 0; frame < mixed.size(); ++frame) {
    if (mixed[frame] == 0.0f) continue;
    ++withOther;
    const double seconds = static_cast<double>(frame) / kRate;
    // Which of its samples the other output's stamps put here.
    const auto buffer =
        static_cast<std::size_t>(std::upper_bound(otherStarts.begin(), otherStarts.end(), seconds) -
                                 otherStarts.begin() - 1);
    const double stamped =
        static_cast<double>(buffer) * kBufferFrames + (seconds - otherStarts[buffer]) * kRate;
    const long number = std::lround(mixed[frame]) - 1;
    const long expected = std::lround(stamped) % 1000;
    long off = std::labs(number - expected);
    off = std::min(off, 1000 - off);
    ASSERT_LE(off, align + 1) << "at " << seconds << " s";
    if (previous >= 0 && number != (previous + 1) % 1000) ++jumps;
    previous = number;
  }
  // 20 s at 500 ppm drift apart by 10 ms: a few steps of the alignment, no
  // more, and the rest of the other output's samples in order.
  EXPECT_LE(jumps, 10 / 2 + 2);
  EXPECT_GE(withOther, static_cast<std::int64_t>(kBuffers * kBufferFrames * 0.99));
}

TEST_F(SystemMixTest, AnOutputThatFallsBehindHoldsTheMixBackByTheBoundAtMost) {
  mix_.open(kOther, 0.0);
  for (int i = 0; i < 20; ++i) {
    mix_.add(SystemMix::kDefaultInput, constant(0.25f, i * kBufferSeconds));
    const double reached = (i + 1) * kBufferSeconds;
    if (reached < TimingLimits::kLateSeconds + kBufferSeconds) continue;
    EXPECT_GE(handedOverUntil(), reached - TimingLimits::kLateSeconds - kBufferSeconds - 1e-9);
    EXPECT_LE(handedOverUntil(), reached - TimingLimits::kLateSeconds + 1e-9);
  }
  // Audio within the bound is still mixed where it belongs; audio beyond it,
  // for a time already handed over, is dropped.
  const double until = handedOverUntil();
  mix_.add(kOther, constant(0.5f, until - 2.0));
  mix_.add(kOther, constant(0.5f, until));
  mix_.add(SystemMix::kDefaultInput, constant(0.25f, 20 * kBufferSeconds));
  mix_.flush();
  expectOneTimeline();
  const std::vector<float> mixed = samplesFrom(0.0);
  const auto first = static_cast<std::size_t>(std::llround(until * kRate));
  for (std::size_t frame = 0; frame < mixed.size(); ++frame) {
    const bool other = frame >= first && frame < first + kBufferFrames;
    ASSERT_FLOAT_EQ(mixed[frame], other ? 0.75f : 0.25f) << "frame " << frame;
  }
}

TEST_F(SystemMixTest, WithoutTheDefaultOutputTheOthersComeOutAfterTheBound) {
  mix_.open(kOther, 0.0);
  for (int i = 0; i < 10; ++i) {
    mix_.add(kOther, constant(0.5f, 3.0 + i * kBufferSeconds));
    const double reached = 3.0 + (i + 1) * kBufferSeconds;
    if (reached - TimingLimits::kLateSeconds <= 3.0) continue;
    EXPECT_NEAR(handedOverUntil(), reached - TimingLimits::kLateSeconds, 1e-9);
  }
  EXPECT_GT(mix_.heldFrames(), 0);
  mix_.flush();
  EXPECT_EQ(mix_.heldFrames(), 0);
  expectOneTimeline();
  const std::vector<float> mixed = samplesFrom(3.0);
  ASSERT_EQ(mixed.size(), static_cast<std::size_t>(10 * kBufferFrames));
  for (const float sample : mixed) ASSERT_EQ(sample, 0.5f);
}

TEST_F(SystemMixTest, AnOutputThatLeavesAndJoinsAgainKeepsOneTimeline) {
  // The default output plays 0.25 for 6 s; another output joins at 1 s for
  // a second, leaves, and joins again at 3.4 s (a new input) for 0.6 s. Each
  // output's buffer arrives as its audio ends, the other's just after the
  // default's.
  for (int step = 0; step < 30; ++step) {
    const double start = step * kBufferSeconds;
    if (step == 5) mix_.open(kOther, 1.0);
    if (step == 17) mix_.open(kOther + 1, 3.4);
    mix_.add(SystemMix::kDefaultInput, constant(0.25f, start));
    if (step == 5) {
      EXPECT_NEAR(handedOverUntil(), 1.0, 1e-9) << "the mix waits for the output that joined";
    }
    if (step >= 5 && step < 10) mix_.add(kOther, constant(0.5f, start));
    if (step == 10) mix_.close(kOther);
    if (step >= 17 && step < 20) mix_.add(kOther + 1, constant(0.5f, start));
  }
  mix_.close(kOther + 1);
  EXPECT_EQ(mix_.heldFrames(), 0);
  expectOneTimeline();
  const std::vector<float> mixed = samplesFrom(0.0);
  ASSERT_EQ(mixed.size(), static_cast<std::size_t>(30 * kBufferFrames));
  for (std::size_t frame = 0; frame < mixed.size(); ++frame) {
    const double seconds = static_cast<double>(frame) / kRate;
    const bool other = (seconds >= 1.0 - 1e-9 && seconds < 2.0 - 1e-9) ||
                       (seconds >= 3.4 - 1e-9 && seconds < 4.0 - 1e-9);
    ASSERT_FLOAT_EQ(mixed[frame], other ? 0.75f : 0.25f) << "at " << seconds << " s";
  }
}

TEST_F(SystemMixTest, TheOthersFillWhereTheDefaultOutputHasAGap) {
  mix_.open(kOther, 0.0);
  mix_.add(SystemMix::kDefaultInput, constant(0.25f, 0.0));
  mix_.add(kOther, constant(0.5f, 0.0, 3 * kBufferFrames));
  // The default output was suspended from 0.2 s to 0.4 s.
  mix_.add(SystemMix::kDefaultInput, constant(0.25f, 2 * kBufferSeconds));
  mix_.flush();
  expectOneTimeline();
  const std::vector<float> mixed = samplesFrom(0.0);
  ASSERT_EQ(mixed.size(), static_cast<std::size_t>(3 * kBufferFrames));
  for (std::size_t frame = 0; frame < mixed.size(); ++frame) {
    const bool gap = frame >= kBufferFrames && frame < 2 * kBufferFrames;
    ASSERT_FLOAT_EQ(mixed[frame], gap ? 0.5f : 0.75f) << "frame " << frame;
  }
}

TEST_F(SystemMixTest, LoudOutputsAddBeyondFullScaleAndAreClampedOnlyByTheConversion) {
  mix_.open(kOther, 0.0);
  mix_.add(SystemMix::kDefaultInput, constant(0.8f, 0.0));
  mix_.add(kOther, constant(-0.8f, 0.0, kBufferFrames / 2));
  mix_.add(kOther, constant(0.8f, kBufferSeconds / 2, kBufferFrames / 2));
  ASSERT_EQ(out_.size(), 1u);
  const auto& samples = out_[0].pulse().samples();
  EXPECT_FLOAT_EQ(samples.front(), 0.0f);
  EXPECT_FLOAT_EQ(samples.back(), 1.6f);

  PcmBuffer working;
  ASSERT_TRUE(working.prepare(*out_[0].buffer->formatDescription(), out_[0].buffer->numSamples()));
  ASSERT_EQ(out_[0].buffer->copyPcmData(working), 0);
  std::vector<std::int16_t> converted(static_cast<std::size_t>(working.frameLength()));
  double squares = 0.0;
  audio::mixToMono(audio::mixSourceOf(working), 0, working.frameLength(), converted.data(),
                   squares);
  EXPECT_EQ(converted.front(), 0);
  EXPECT_EQ(converted.back(), 32767);
}

// Where the default output's audio goes on within a frame of where the
// mix stands, and another output's starts up to kAlignSeconds before that
// (placed there by its own timeline), nothing of the other output fits
// before the default's: the default's goes first, and the mix goes on rather
// than holding everything from then on.
TEST_F(SystemMixTest, TheDefaultsAudioRightWhereTheMixStandsIsNeverHeldBack) {
  mix_.open(kOther, 10.0);
  mix_.add(SystemMix::kDefaultInput, constant(0.25f, 10.0));
  mix_.add(kOther, constant(0.25f, 10.0));
  const double stands = handedOverUntil();
  const double other = stands - TimingLimits::kAlignSeconds + 5e-6;
  const double defaultOutput = stands + 8e-6;
  for (int i = 0; i < 10; ++i) {
    mix_.add(kOther, constant(0.25f, other + i * kBufferSeconds));
    mix_.add(SystemMix::kDefaultInput, constant(0.25f, defaultOutput + i * kBufferSeconds));
  }
  EXPECT_GE(handedOverUntil(), defaultOutput + 9 * kBufferSeconds - TimingLimits::kLateSeconds);
  EXPECT_LE(mix_.heldFrames(), std::llround(2 * TimingLimits::kLateSeconds * kRate));
  // One timeline to the frame (the default's buffers keep their own stamps,
  // a fraction of a frame on), and both outputs heard from there on, added.
  const auto samples = samplesFrom(10.0);
  ASSERT_GT(samples.size(), 48000u);
  EXPECT_FLOAT_EQ(samples[samples.size() - 100], 0.5f);
}

}  // namespace
}  // namespace mirevo::platform::pulse
