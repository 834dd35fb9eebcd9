// Fuzzes the accumulator's `append` with arbitrary formats, frame counts,
// sample values and presentation-time sequences, then `flush`. After every
// call: the gathered audio is shorter than one second at the current rate,
// `startMs` is finite and not negative, every chunk emitted meanwhile parses,
// numbers on from the one before, and holds as many samples as its
// `durationMs` says; and no audio is lost or made up: a usable buffer that
// is accepted adds exactly its frames to what was emitted plus what is
// gathered, and anything else adds nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include <nlohmann/json.hpp>

#include "CapturedOutput.hpp"
#include "audio/AudioChunks.hpp"
#include "platform/Error.hpp"
#include "platform/sim/SimClock.hpp"
#include "platform/sim/SimSampleBuffer.hpp"

namespace {

using mirevo::platform::AudioFormat;
using mirevo::platform::SampleType;
using mirevo::platform::sim::SimSampleBuffer;

constexpr double kOrigin = 1000.0;
constexpr std::int64_t kMaxFrames = 192000;
// Bounds the work per input, so that the fuzzer explores instead of converting.
constexpr std::int64_t kMaxSamplesPerBuffer = 200000;

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "append fuzz: %s\n", what);
    std::abort();
  }
}

int base64Length(const std::string& text) {
  std::size_t padding = 0;
  while (padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
  return static_cast<int>(text.size() / 4 * 3 - padding);
}

double pickRate(FuzzedDataProvider& in) {
  static constexpr double kRates[] = {48000.0, 44100.0, 8000.0,    192000.0, 16000.0,
                                      96000.0, 7999.99, 192000.01, 22050.5,  0.0};
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
      return in.PickValueInArray(kRates);
    case 1:
      return in.ConsumeFloatingPointInRange(7000.0, 200000.0);
    case 2:
      return in.ConsumeFloatingPoint<double>();
    default:
      return std::numeric_limits<double>::quiet_NaN();
  }
}

struct Timeline {
  double nextSeconds = kOrigin;  // where continuous audio would go on
};

double pickTime(FuzzedDataProvider& in, const Timeline& timeline) {
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0:
    case 1:  // on time, give or take a jitter or a jump
      return timeline.nextSeconds + in.ConsumeFloatingPointInRange(-0.3, 0.3);
    case 2:  // before the origin
      return kOrigin - in.ConsumeFloatingPointInRange(0.0, 10.0);
    case 3:
      return in.ConsumeFloatingPoint<double>();
    default:
      return in.PickValueInArray(
          {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
           -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::max(), kOrigin});
  }
}

struct Totals {
  std::int64_t emittedSamples = 0;
  std::int64_t nextSequence = 0;
};

// Checks the chunks written since the last call and adds up their samples.
void checkChunks(mirevo::testing::CapturedOutput& output, Totals& totals) {
  for (const auto& line : output.lines()) {
    const auto chunk = nlohmann::json::parse(line, nullptr, false);
    check(!chunk.is_discarded(), "chunk line is not JSON");
    check(chunk.at("type") == "audio_chunk" && chunk.at("source") == "system" &&
              chunk.at("jobId") == "job/1" && chunk.at("channels") == 1 &&
              chunk.at("encoding") == "pcm_s16le",
          "chunk fields");
    check(chunk.at("sequence").get<std::int64_t>() == totals.nextSequence, "sequence gap");
    ++totals.nextSequence;
    const auto rate = chunk.at("sampleRate").get<std::int64_t>();
    check(rate >= 8000 && rate <= 192000, "chunk rate out of range");
    check(chunk.at("startedAtMs").get<std::int64_t>() >= 0, "chunk starts before the origin");
    const int bytes = base64Length(chunk.at("dataBase64").get<std::string>());
    check(bytes > 0 && bytes % 2 == 0, "chunk bytes not whole samples");
    check(bytes / 2 <= rate, "chunk longer than a second");
    const double exactMs = bytes / 2 * 1000.0 / static_cast<double>(rate);
    const auto durationMs = chunk.at("durationMs").get<std::int64_t>();
    check(durationMs == std::max<std::int64_t>(1, std::llround(exactMs)),
          "durationMs does not match the chunk's bytes");
    totals.emittedSamples += bytes / 2;
  }
  output.clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static mirevo::testing::CapturedOutput output;
  output.clear();
  FuzzedDataProvider in(data, size);
  mirevo::platform::sim::SimClock clock;
  mirevo::audio::AudioChunks chunks("job/1", "system", kOrigin, clock);
  Timeline timeline;
  Totals totals;

  for (int call = 0; call < 64 && in.remaining_bytes() > 0; ++call) {
    AudioFormat format;
    format.sampleRate = pickRate(in);
    format.channelCount = in.ConsumeIntegralInRange<std::uint32_t>(0, 34);
    format.interleaved = in.ConsumeBool();
    format.sampleType = in.PickValueInArray(
        {SampleType::float32, SampleType::int16, SampleType::int32, SampleType::int24,
         SampleType::int8, SampleType::uint8, SampleType::float64, SampleType::compressed});
    // Now and then a buffer at or around the frame limit.
    std::int64_t frames = in.ConsumeIntegralInRange(0, 15) != 0
                              ? in.ConsumeIntegralInRange<std::int64_t>(-2, 1100)
                              : in.PickValueInArray<std::int64_t>(
                                    {kMaxFrames - 1, kMaxFrames, kMaxFrames + 1, 48000, 8000, 0});
    const std::uint32_t stored = std::max<std::uint32_t>(format.channelCount, 1);
    if (frames * stored > kMaxSamplesPerBuffer) frames = kMaxSamplesPerBuffer / stored;
    const double seconds = pickTime(in, timeline);

    SimSampleBuffer buffer(format, std::max<std::int64_t>(frames, 0), seconds);
    // Sample bytes from the input, channel after channel (zero when it runs out).
    const bool pcm = format.sampleType != SampleType::compressed;
    for (std::uint32_t c = 0; pcm && c < format.channelCount && in.remaining_bytes() > 0; ++c) {
      for (std::int64_t f = 0; f < frames && in.remaining_bytes() > 0; ++f) {
        switch (format.sampleType) {
          case SampleType::float32:
            buffer.setSample(c, f,
                             in.ConsumeBool() ? in.ConsumeFloatingPoint<float>()
                                              : in.ConsumeFloatingPointInRange(-1.5f, 1.5f));
            break;
          case SampleType::int16:
            buffer.setSample(c, f, in.ConsumeIntegral<std::int16_t>());
            break;
          case SampleType::int32:
            buffer.setSample(c, f, in.ConsumeIntegral<std::int32_t>());
            break;
          case SampleType::int24:
            buffer.setSample(c, f,
                             mirevo::platform::PackedInt24::of(in.ConsumeIntegral<std::int32_t>()));
            break;
          case SampleType::int8:
            buffer.setSample(c, f, in.ConsumeIntegral<std::int8_t>());
            break;
          case SampleType::uint8:
            buffer.setSample(c, f, in.ConsumeIntegral<std::uint8_t>());
            break;
          default:
            buffer.setSample(c, f, in.ConsumeFloatingPoint<double>());
        }
      }
    }
    const std::uint8_t odd = in.ConsumeIntegral<std::uint8_t>();
    buffer.setReady(odd != 1);
    buffer.setHasFormatDescription(odd != 2);
    if (odd == 3) buffer.setCopyStatus(in.ConsumeIntegral<std::int32_t>() | 1);
    if (odd == 4) buffer.setReportedFrames(in.ConsumeIntegralInRange<std::int64_t>(-1, 2000));

    const std::int64_t reported = buffer.numSamples();
    const double ms = (seconds - kOrigin) * 1000.0;
    const bool usable = odd != 1 && odd != 2 && reported >= 1 && reported <= kMaxFrames &&
                        std::isfinite(seconds) && std::isfinite(ms);
    const std::int64_t before = totals.emittedSamples + chunks.pendingSamples();
    bool accepted = true;
    try {
      chunks.append(buffer);
    } catch (const mirevo::platform::Error&) {
      accepted = false;
    }
    checkChunks(output, totals);

    const std::int64_t added = totals.emittedSamples + chunks.pendingSamples() - before;
    check(added == (accepted && usable ? reported : 0), "audio lost or made up");
    check(chunks.pendingSamples() >= 0 && chunks.pendingSamples() < chunks.rate(),
          "a second or more left gathered");
    check(std::isfinite(chunks.startMs()) && chunks.startMs() >= 0.0, "startMs negative");
    if (accepted && usable) timeline.nextSeconds = seconds + reported / format.sampleRate;
    clock.setUptimeSeconds(clock.uptimeSeconds() + 0.01);
  }

  const std::int64_t gathered = chunks.pendingSamples();
  chunks.flush();
  checkChunks(output, totals);
  check(chunks.pendingSamples() == 0, "flush left audio behind");
  check(gathered == 0 || totals.nextSequence > 0, "flush emitted nothing");
  return 0;
}
