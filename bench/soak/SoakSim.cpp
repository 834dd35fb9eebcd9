// Accelerated soak: one recording session on the simulated platform fed with
// hours of 48 kHz audio in 10 ms buffers from both sources, presentation times
// jittered by up to ±20 ms, and a few real gaps (the time leaps ahead). It
// checks, per source, that every sample delivered comes out in a chunk, that
// sequence numbers run on without a hole, that every chunk shorter than a
// second (the last one aside) ends exactly where a gap of more than 100 ms
// begins and every gap causes one, and that peak memory after the first
// simulated minute grows by no more than 1 MiB. It prints its figures and
// exits 1 when a check fails.
//
//   soak_sim [MINUTES]   (default 120)
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "PosixDescriptors.hpp"
#include "ProcessMemory.hpp"
#include "capture/Capture.hpp"
#include "events/Output.hpp"
#include "platform/sim/SimPlatform.hpp"
#include "platform/sim/SimSampleBuffer.hpp"

namespace {

using mirevo::platform::kOutputTypeAudio;
using mirevo::platform::kOutputTypeMicrophone;
namespace sim = mirevo::platform::sim;

constexpr double kOrigin = 100.0;
constexpr std::int64_t kRate = 48000;
constexpr std::int64_t kFrames = 480;  // 10 ms
constexpr double kJitterMs = 20.0;

// Peak resident memory of this process so far, in KiB.
long peakKiB() {
  return mirevo::testing::ownPeakResidentKiB();
}

struct Source {
  Source(const char* name, int outputType, double hertz)
      : name(name), outputType(outputType), hertz(hertz) {}

  const char* name;
  int outputType;
  double hertz;
  std::int64_t samplesIn = 0;
  std::int64_t samplesOut = 0;
  std::int64_t chunks = 0;
  double gapSeconds = 0.0;             // how far the timeline has leapt so far
  std::set<std::int64_t> gapsAt;       // sample positions where a gap begins
  std::set<std::int64_t> shortEndsAt;  // sample positions where a short chunk ends
  std::int64_t lastShortEnd = -1;
  bool sequenceHole = false;
  double worstJoinMs = 0.0;  // |start of a chunk − end of the one before| without a gap
  double previousEndMs = -1.0;
};

// Reads the chunk lines the emitter wrote since the last call.
class ChunkReader {
 public:
  ChunkReader() : fd_(mirevo::testing::anonymousFile()) {
    if (fd_ < 0) std::abort();
    mirevo::Output::redirectForTesting(fd_);
  }

  void read(std::map<std::string, Source*>& sources, std::int64_t& statuses) {
    text_.resize(static_cast<std::size_t>(::lseek(fd_, 0, SEEK_END)));
    if (text_.empty()) return;
    if (::pread(fd_, text_.data(), text_.size(), 0) != static_cast<ssize_t>(text_.size())) {
      std::abort();
    }
    if (::ftruncate(fd_, 0) != 0) std::abort();
    ::lseek(fd_, 0, SEEK_SET);
    std::size_t begin = 0;
    for (std::size_t end; (end = text_.find('\n', begin)) != std::string::npos; begin = end + 1) {
      const std::string_view line(text_.data() + begin, end - begin);
      if (line.find(R"("type":"status")") != std::string_view::npos) ++statuses;
      if (line.find(R"("type":"audio_chunk")") != std::string_view::npos) chunk(line, sources);
    }
  }

 private:
  static std::int64_t number(std::string_view line, std::string_view key) {
    const auto at = line.find(key);
    return std::strtoll(line.data() + at + key.size(), nullptr, 10);
  }

  static void chunk(std::string_view line, std::map<std::string, Source*>& sources) {
    const auto nameAt = line.find(R"("source":")") + 10;
    Source& source = *sources.at(std::string(line.substr(nameAt, line.find('"', nameAt) - nameAt)));
    const auto dataAt = line.find(R"("dataBase64":")") + 14;
    const std::string_view data = line.substr(dataAt, line.find('"', dataAt) - dataAt);
    std::int64_t characters = 0, padding = 0;
    for (const char c : data) {
      if (c == '\\') continue;  // an escaped '/'
      ++characters;
      if (c == '=') ++padding;
    }
    const std::int64_t samples = (characters / 4 * 3 - padding) / 2;
    if (number(line, R"("sequence":)") != source.chunks) source.sequenceHole = true;
    ++source.chunks;
    source.samplesOut += samples;

    const double startMs = static_cast<double>(number(line, R"("startedAtMs":)"));
    const bool afterShort =
        source.lastShortEnd >= 0 && source.lastShortEnd == source.samplesOut - samples;
    if (source.previousEndMs >= 0 && !afterShort) {
      source.worstJoinMs = std::max(source.worstJoinMs, std::fabs(startMs - source.previousEndMs));
    }
    source.previousEndMs = startMs + static_cast<double>(number(line, R"("durationMs":)"));
    if (samples != kRate) {
      source.lastShortEnd = source.samplesOut;
      source.shortEndsAt.insert(source.samplesOut);
    }
  }

  int fd_;
  std::string text_;
};

}  // namespace

int main(int argc, char** argv) {
  const int minutes = argc > 1 ? std::atoi(argv[1]) : 120;
  const std::int64_t seconds = std::int64_t{minutes} * 60;

  sim::SimPlatform platform;
  platform.clock.setHostSeconds(kOrigin);
  platform.clock.setUptimeSeconds(5000.0);
  ChunkReader reader;
  auto capture = std::make_shared<mirevo::Capture>("soak", platform.platform());
  capture->start("soak-job", std::nullopt);

  Source microphone{"microphone", kOutputTypeMicrophone, 440.0};
  Source system{"system", kOutputTypeAudio, 1000.0};
  std::map<std::string, Source*> sources = {{"microphone", &microphone}, {"system", &system}};
  // Gaps: (second, source, how far the time leaps). Each leaps further than
  // 100 ms plus twice the jitter, so that it is a real gap whatever the jitter.
  const std::vector<std::tuple<double, Source*, double>> gaps = {
      {61.25, &microphone, 0.15}, {1234.56, &system, 0.5}, {2500.11, &microphone, 2.0},
      {2500.11, &system, 2.0},    {4321.37, &system, 0.2}, {6666.66, &microphone, 30.0}};

  std::mt19937 random(7);
  std::uniform_real_distribution<double> jitter(-kJitterMs / 1000.0, kJitterMs / 1000.0);
  std::vector<float> samples(kFrames);
  std::int64_t statuses = 0;
  long peakAfterMinute = -1;

  for (std::int64_t second = 0; second < seconds; ++second) {
    for (std::int64_t slot = 0; slot < kRate / kFrames; ++slot) {
      for (Source* source : {&microphone, &system}) {
        const double at = static_cast<double>(source->samplesIn) / kRate;
        for (const auto& [when, gapSource, leap] : gaps) {
          if (gapSource == source && at <= when && when < at + double(kFrames) / kRate &&
              minutes * 60.0 > when) {
            source->gapSeconds += leap;
            source->gapsAt.insert(source->samplesIn);
          }
        }
        for (std::int64_t f = 0; f < kFrames; ++f) {
          samples[f] = 0.25f * static_cast<float>(std::sin(2 * M_PI * source->hertz *
                                                           double(source->samplesIn + f) / kRate));
        }
        const double presentation = kOrigin + at + source->gapSeconds + jitter(random);
        platform.capture.deliver(source->outputType,
                                 std::make_shared<sim::SimSampleBuffer>(
                                     sim::SimSampleBuffer::mono(samples, kRate, presentation)));
        source->samplesIn += kFrames;
      }
    }
    platform.runPending();
    platform.clock.advance(1.0);
    platform.runPending();
    reader.read(sources, statuses);
    if (second == 59) peakAfterMinute = peakKiB();
  }
  capture->stop();
  reader.read(sources, statuses);
  const long peakAtEnd = peakKiB();

  bool ok = true;
  for (Source* source : {&microphone, &system}) {
    // The last chunk ends the recording; every other short one is a break.
    source->shortEndsAt.erase(source->samplesOut);
    const bool explained = source->shortEndsAt == source->gapsAt;
    const bool pass = source->samplesIn == source->samplesOut && !source->sequenceHole && explained;
    ok = ok && pass;
    std::printf(
        "%s: samples_in=%lld samples_out=%lld chunks=%lld sequences_contiguous=%s breaks=%zu "
        "gaps_over_100ms=%zu breaks_explained=%s worst_join_without_gap_ms=%.0f\n",
        source->name, static_cast<long long>(source->samplesIn),
        static_cast<long long>(source->samplesOut), static_cast<long long>(source->chunks),
        source->sequenceHole ? "no" : "yes", source->shortEndsAt.size(), source->gapsAt.size(),
        explained ? "yes" : "no", source->worstJoinMs);
  }
  const long growth = peakAtEnd - peakAfterMinute;
  ok = ok && peakAfterMinute > 0 && growth <= 1024;
  std::printf("status events=%lld\n", static_cast<long long>(statuses));
  std::printf("memory: peak_after_1min_kib=%ld peak_at_end_kib=%ld growth_kib=%ld\n",
              peakAfterMinute, peakAtEnd, growth);
  std::printf("soak-sim: %s minutes=%d\n", ok ? "PASS" : "FAIL", minutes);
  return ok ? 0 : 1;
}
