#include "TwoSourceStream.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/ChunkLine.hpp"

namespace mirevo::testing {
namespace {

std::int16_t toSample(double value) {
  return static_cast<std::int16_t>(std::lround(std::clamp(value, -1.0, 1.0) * 32767.0));
}

// The agent's level: four times the root mean square, at most 1.
double level(const std::vector<std::int16_t>& samples) {
  double squares = 0;
  for (const std::int16_t sample : samples) squares += (sample / 32768.0) * (sample / 32768.0);
  return std::min(1.0, 4.0 * std::sqrt(squares / static_cast<double>(samples.size())));
}

std::string statusLine(std::int64_t elapsedSeconds, double microphoneLevel, double systemLevel) {
  char line[400];
  std::snprintf(line, sizeof line,
                "{\"elapsedSeconds\":%lld,\"message\":\"Recording microphone and system "
                "audio.\",\"microphoneAudioState\":\"active\",\"microphoneLevel\":%.4f,"
                "\"sessionId\":\"sess-1\",\"state\":\"recording\",\"systemAudioState\":\"active\","
                "\"systemLevel\":%.4f,\"type\":\"status\"}\n",
                static_cast<long long>(elapsedSeconds), microphoneLevel, systemLevel);
  return line;
}

}  // namespace

void writeTwoSourceStream(std::ostream& out, const TwoSourceRecording& recording) {
  audio::ChunkLine microphoneLine("job-1", "microphone");
  audio::ChunkLine systemLine("job-1", "system");
  const auto rate = recording.sampleRate;
  std::vector<std::int16_t> microphone(static_cast<std::size_t>(rate));
  std::vector<std::int16_t> system(microphone.size());
  out << statusLine(0, 0.0, 0.0);
  const auto seconds = static_cast<std::int64_t>(recording.seconds);
  for (std::int64_t second = 0; second < seconds; ++second) {
    for (std::size_t i = 0; i < microphone.size(); ++i) {
      const double at =
          static_cast<double>(second) + static_cast<double>(i) / static_cast<double>(rate);
      microphone[i] = toSample(recording.microphone(at));
      system[i] = toSample(recording.system(at));
    }
    const audio::ChunkFields fields{second, second * 1000, 1000, rate};
    out << microphoneLine.build(fields, microphone) << systemLine.build(fields, system);
    out << statusLine(second + 1, level(microphone), level(system));
  }
  out << "{\"sessionId\":\"sess-1\",\"type\":\"completed\"}\n";
}

}  // namespace mirevo::testing
