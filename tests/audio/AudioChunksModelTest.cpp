// Random streams of buffers (rates, sizes, timing jitter, invalid times and
// flushes) through the accumulator and through a model that follows the rules
// one sample at a time. Every line written, every level and every arrival time
// must be the same.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "AudioTestSupport.hpp"
#include "CapturedOutput.hpp"
#include "MonoMixReference.hpp"
#include "audio/AudioChunks.hpp"
#include "events/Output.hpp"
#include "platform/sim/SimSampleBuffer.hpp"

namespace mirevo {
namespace {

using audio::AudioChunks;
using platform::sim::SimSampleBuffer;

// The accumulator's rules, literally, one sample at a time.
class ModelChunks {
 public:
  ModelChunks(std::string job, std::string source, double origin)
      : job_(std::move(job)), source_(std::move(source)), origin_(origin) {}

  // `frames[c][f]`: the buffer's float samples by channel.
  void append(const std::vector<std::vector<float>>& frames, double rateHz, double seconds,
              double uptime) {
    if (!std::isfinite(seconds)) return;
    double bufferMs = (seconds - origin_) * 1000.0;
    if (bufferMs < 0.0) bufferMs = 0.0;
    const auto bufferRate = static_cast<std::int64_t>(rateHz);
    if (rate_ != bufferRate) {
      flush();
    } else if (!pcm_.empty()) {
      const double endMs =
          startMs_ + static_cast<double>(pcm_.size()) / static_cast<double>(rate_) * 1000.0;
      if (std::fabs(bufferMs - endMs) > 100.0) flush();
    }
    rate_ = bufferRate;
    if (pcm_.empty()) startMs_ = bufferMs;
    double squares = 0.0;
    const std::size_t count = frames[0].size();
    for (std::size_t f = 0; f < count; ++f) {
      const float clamped = testing::clampedMono(frames, f);
      pcm_.push_back(testing::pcm16Of(clamped));
      if (static_cast<std::int64_t>(pcm_.size()) * 2 >= 2 * rate_) flush();
      squares += clamped * clamped;
    }
    level = std::min(1.0, 4.0 * std::sqrt(squares / static_cast<double>(count)));
    lastPacket = uptime;
  }

  void flush() {
    if (pcm_.empty()) return;
    const double durationMs =
        static_cast<double>(pcm_.size()) / static_cast<double>(rate_) * 1000.0;
    std::vector<std::uint8_t> bytes;
    for (const std::int16_t s : pcm_) {
      bytes.push_back(static_cast<std::uint8_t>(s & 0xff));
      bytes.push_back(static_cast<std::uint8_t>((s >> 8) & 0xff));
    }
    const nlohmann::json event = {
        {"type", "audio_chunk"},
        {"jobId", job_},
        {"source", source_},
        {"sequence", sequence_},
        {"startedAtMs", static_cast<std::int64_t>(std::round(startMs_))},
        {"durationMs", std::max<std::int64_t>(1, std::llround(durationMs))},
        {"sampleRate", rate_},
        {"channels", 1},
        {"encoding", "pcm_s16le"},
        {"dataBase64", testing::plainBase64(bytes)},
    };
    lines += Output::serialise(event);
    ++sequence_;
    startMs_ += durationMs;
    pcm_.clear();
  }

  std::string lines;
  double level = 0.0;
  double lastPacket = 0.0;

 private:
  std::string job_, source_;
  double origin_;
  std::vector<std::int16_t> pcm_;
  std::int64_t sequence_ = 0;
  std::int64_t rate_ = 48000;
  double startMs_ = 0.0;
};

TEST(AudioChunksModel, RandomStreamsMatchTheOneSampleModel) {
  const double origin = 250.0;
  for (std::uint32_t seed = 1; seed <= 12; ++seed) {
    std::mt19937 random(seed);
    testing::CapturedOutput output;
    testing::ManualClock clock;
    AudioChunks chunks("job/" + std::to_string(seed), "system", origin, clock);
    ModelChunks model("job/" + std::to_string(seed), "system", origin);
    const double rates[] = {48000.0, 48000.0, 48000.0, 44100.7, 16000.0, 8000.0, 192000.0};
    double rate = 48000.0;
    double seconds = origin - 0.05;  // the first buffers may come just before the origin
    for (int step = 0; step < 300; ++step) {
      const std::uint32_t pick = random() % 100;
      if (pick < 3) {
        chunks.flush();
        model.flush();
        continue;
      }
      if (pick < 8) rate = rates[random() % std::size(rates)];
      const std::uint32_t channels = 1 + random() % 3;
      const std::size_t frames = pick < 10 ? 1 + random() % 60000 : 1 + random() % 2048;
      std::vector<std::vector<float>> data(channels, std::vector<float>(frames));
      std::uniform_real_distribution<float> amplitude(-1.2f, 1.2f);
      for (auto& channel : data) {
        for (auto& s : channel) s = amplitude(random);
      }
      // Mostly on time; sometimes jittered around the 100 ms tolerance, or invalid.
      double stamp = seconds;
      if (pick >= 90) stamp += std::uniform_real_distribution<double>(-0.15, 0.15)(random);
      if (pick == 99) stamp = std::numeric_limits<double>::quiet_NaN();
      clock.uptime += 0.01;
      chunks.append(SimSampleBuffer::fromChannels<float>(data, rate, random() % 2 == 0, stamp));
      model.append(data, rate, stamp, clock.uptime);
      seconds += static_cast<double>(frames) / rate;
      ASSERT_EQ(chunks.level(), model.level) << "seed " << seed << " step " << step;
      ASSERT_EQ(chunks.lastPacket(), model.lastPacket) << "seed " << seed << " step " << step;
    }
    chunks.flush();
    model.flush();
    ASSERT_EQ(output.text(), model.lines) << "seed " << seed;
  }
}

}  // namespace
}  // namespace mirevo
