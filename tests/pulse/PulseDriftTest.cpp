// The built agent on a private audio server, with a microphone
// whose clock drifts: a pipe source fed by mirevo-drifting-writer at
// 48000 * (1 + ppm / 1e6) frames per real second, while the same bursts play
// into the speakers at the same real moments. Over two minutes, each burst
// carries the same time in both sources (within 2 ms of where they stood at
// the start), and each source's chunks follow each other without overlap or
// gap.
//
// The writer's bursts reach the speakers through a playback stream's buffer,
// so that they play a constant time from the microphone's, which this rig
// cannot pin to a millisecond (the buffer's fill when playback began; and
// the agent times a monitor's audio when the sink renders it, before it
// plays). That constant is the rig's, not the drift's: each burst's offset
// is measured from the median of the first five seconds (before any drift
// has grown), and the constant is printed.
//
// On PipeWire (the pipewire_drift copies) only the slow direction runs: its
// pipe source passes on what the writer gave as it comes, so a slow writer
// is a slow device (its count and the bursts' spacing follow the writer),
// but a fast one only backs up the pipe behind the graph's clock.
//
// Disabled until device clocks are followed: today the microphone
// moves by the drift (0.3 ms per second at 300 ppm). Run it anyway with
// --gtest_also_run_disabled_tests; it prints the offsets either way.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "AgentEvents.hpp"
#include "AgentProcess.hpp"
#include "ChunkSamples.hpp"
#include "PrivatePulse.hpp"

namespace mirevo::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

constexpr const char* kDriftingMic = "mirevo_drifting_mic";
constexpr double kAlignedMs = 2.0;
constexpr double kBurstPeriodMs = 200.0;
constexpr int kRecordedSeconds = 120;
// As the writer has it: its first burst 1.5 s after it began.
constexpr double kFirstBurstSeconds = 1.5;

double monotonicSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Offset {
  double atMs;  // the burst in the microphone
  double ms;    // how much later than in the system's audio
};

// For each burst in the microphone, how much later it lies than the burst of
// the system's audio nearest to `shiftMs` before it.
std::vector<Offset> offsetsMs(const std::vector<double>& system,
                              const std::vector<double>& microphone, double shiftMs) {
  std::vector<Offset> offsets;
  std::size_t next = 0;
  for (const double onset : microphone) {
    const double paired = onset - shiftMs;
    while (next + 1 < system.size() &&
           std::fabs(system[next + 1] - paired) < std::fabs(system[next] - paired)) {
      ++next;
    }
    if (next < system.size() && std::fabs(paired - system[next]) < kBurstPeriodMs / 2) {
      offsets.push_back({onset, onset - system[next]});
    }
  }
  return offsets;
}

double medianOf(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// The writer, for as long as the object lives.
class DriftingWriter {
 public:
  explicit DriftingWriter(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(MIREVO_DRIFTING_WRITER_PATH));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int out[2] = {-1, -1};
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    output_ = ::fdopen(out[0], "r");
  }
  ~DriftingWriter() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (output_ != nullptr) ::fclose(output_);
  }
  DriftingWriter(const DriftingWriter&) = delete;
  DriftingWriter& operator=(const DriftingWriter&) = delete;

  bool running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
  // When it began writing, on CLOCK_MONOTONIC: it says so once it does.
  std::optional<double> startedSeconds() {
    double seconds = 0.0;
    if (output_ == nullptr || std::fscanf(output_, "writing at %lf", &seconds) != 1) {
      return std::nullopt;
    }
    return seconds;
  }

 private:
  pid_t pid_ = -1;
  FILE* output_ = nullptr;
};

class PulseDrift : public ::testing::TestWithParam<double> {
 protected:
  void SetUp() override {
    if (!pulseaudioInstalled()) GTEST_SKIP() << "pulseaudio, pactl, pacat or sox is not installed";
    if (onPipeWire() && GetParam() > 0.0) {
      GTEST_SKIP() << "a writer faster than PipeWire's graph only backs up the pipe";
    }
    server_ = std::make_unique<PrivatePulse>();
    ASSERT_TRUE(server_->running()) << "the private audio server did not start";
    fifo_ = server_->folder() + "/microphone.fifo";
    go_ = server_->folder() + "/go";
    ASSERT_TRUE(server_->pactl(std::string("load-module module-pipe-source source_name=") +
                               kDriftingMic + " file=" + fifo_ +
                               " format=s16le rate=48000 channels=1"));
    agent_ = std::make_unique<AgentProcess>(MIREVO_AGENT_PATH);
  }

  void TearDown() override {
    if (!agent_) return;
    EXPECT_EQ(agent_->finish(10s), 0);
    EXPECT_EQ(agent_->standardError(), "");
  }

  // Whether a record stream reads the drifting microphone.
  bool microphoneRecorded() const {
    const auto sources = server_->pactl("list short sources");
    const auto outputs = server_->pactl("list short source-outputs");
    if (!sources || !outputs) return false;
    std::istringstream lines(*sources);
    std::string line;
    std::string index;
    while (std::getline(lines, line)) {
      if (line.find(kDriftingMic) != std::string::npos) index = line.substr(0, line.find('\t'));
    }
    std::istringstream streams(*outputs);
    while (std::getline(streams, line)) {
      std::istringstream fields(line);
      std::string id;
      std::string source;
      fields >> id >> source;
      if (!index.empty() && source == index) return true;
    }
    return false;
  }

  // Each source's chunks: how many, how many full, and where they break.
  std::string describeChunks() const {
    std::ostringstream text;
    for (const char* source : {"system", "microphone"}) {
      const auto chunks = chunksOf(agent_->events(), source);
      int full = 0;
      for (const auto& chunk : chunks) full += chunk.at("durationMs") == 1000 ? 1 : 0;
      text << source << ": " << chunks.size() << " chunks, " << full << " full, breaks";
      for (const int jump : breaksOf(chunks, 1)) text << " " << jump;
      text << "; ";
    }
    return text.str();
  }

  std::unique_ptr<PrivatePulse> server_;
  std::unique_ptr<AgentProcess> agent_;
  std::string fifo_;
  std::string go_;
};

TEST_P(PulseDrift, DISABLED_ABurstCarriesOneTimeInBothSourcesForTwoMinutes) {
  const double ppm = GetParam();
  std::ostringstream ppmText;
  ppmText << ppm;
  DriftingWriter writer({"--fifo", fifo_, "--ppm", ppmText.str(), "--speakers", "mirevo_speakers",
                         "--wait-for", go_, "--seconds", std::to_string(kRecordedSeconds + 30)});
  json start = {{"type", "start"}, {"sessionId", "s-1"}, {"jobId", "j-1"}};
  start["microphoneDeviceId"] = kDriftingMic;
  // The recording's clock starts about now.
  const double startSentSeconds = monotonicSeconds();
  agent_->send(start);
  // The writer starts once the microphone is recorded: audio written before
  // would wait in the pipe.
  const auto until = std::chrono::steady_clock::now() + 10s;
  while (!microphoneRecorded() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_TRUE(microphoneRecorded()) << "the agent records the drifting microphone";
  std::ofstream(go_).put('\n');
  const auto writingSeconds = writer.startedSeconds();
  ASSERT_TRUE(writingSeconds) << "the writer began";

  std::map<std::string, int> full;
  ASSERT_TRUE(agent_->until(
      [&](const json& event) {
        if (isType(event, "audio_chunk") && event.at("durationMs") == 1000) {
          ++full[event.at("source")];
        }
        return full["system"] >= kRecordedSeconds && full["microphone"] >= kRecordedSeconds;
      },
      std::chrono::seconds(kRecordedSeconds + 40)))
      << kRecordedSeconds << " full chunks of each source; " << describeChunks();
  agent_->send({{"type", "stop"}, {"sessionId", "s-1"}});
  ASSERT_TRUE(agent_->until([](const json& e) { return isType(e, "completed"); }, 10s));
  for (const auto& event : agent_->events()) EXPECT_FALSE(isType(event, "failed")) << event.dump();

  const auto systemChunks = chunksOf(agent_->events(), "system");
  const auto microphoneChunks = chunksOf(agent_->events(), "microphone");
  const auto systemOnsets = burstOnsetsMs(systemChunks);
  const auto microphoneOnsets = burstOnsetsMs(microphoneChunks);
  ASSERT_FALSE(microphoneOnsets.empty());
  // The rig's constant: the offsets of the first five seconds.
  std::vector<double> atStart;
  for (const auto& offset : offsetsMs(systemOnsets, microphoneOnsets, 0.0)) {
    if (offset.atMs < microphoneOnsets.front() + 5000.0) atStart.push_back(offset.ms);
  }
  ASSERT_FALSE(atStart.empty()) << "bursts heard in both sources";
  const double constantMs = medianOf(atStart);
  auto offsets = offsetsMs(systemOnsets, microphoneOnsets, constantMs);
  for (auto& offset : offsets) offset.ms -= constantMs;
  ASSERT_GE(offsets.size(), static_cast<std::size_t>(kRecordedSeconds * 4))
      << "bursts heard in both sources";

  // The offsets over time: the mean of every ten seconds, and how fast they
  // move (a least-squares line).
  std::ostringstream seen;
  seen << std::fixed << std::setprecision(2);
  const double firstMs = offsets.front().atMs;
  double sumT = 0.0, sumO = 0.0, sumTT = 0.0, sumTO = 0.0;
  double windowSum = 0.0;
  int windowCount = 0;
  int window = 0;
  double worst = 0.0;
  for (const auto& offset : offsets) {
    const double t = (offset.atMs - firstMs) / 1000.0;
    sumT += t;
    sumO += offset.ms;
    sumTT += t * t;
    sumTO += t * offset.ms;
    worst = std::max(worst, std::fabs(offset.ms));
    if (static_cast<int>(t / 10.0) != window) {
      if (windowCount > 0) seen << " " << window * 10 << "s:" << windowSum / windowCount;
      window = static_cast<int>(t / 10.0);
      windowSum = 0.0;
      windowCount = 0;
    }
    windowSum += offset.ms;
    ++windowCount;
  }
  if (windowCount > 0) seen << " " << window * 10 << "s:" << windowSum / windowCount;
  const auto n = static_cast<double>(offsets.size());
  const double slope = (n * sumTO - sumT * sumO) / (n * sumTT - sumT * sumT);
  std::cout << ppm << " ppm: microphone minus system (ms), from " << constantMs
            << " ms at the start, means of ten seconds:" << seen.str() << "; moving " << slope
            << " ms/s; worst " << worst << " ms over " << offsets.size() << " bursts\n";
  // Each source against the real moments of the bursts, as far as the
  // recording's start is known (a few milliseconds after the start was
  // sent): the offset both share is that uncertainty.
  const double firstBurstMs = (*writingSeconds + kFirstBurstSeconds - startSentSeconds) * 1000.0;
  for (const auto& [source, chunks] :
       {std::pair{"system", &systemChunks}, std::pair{"microphone", &microphoneChunks}}) {
    const auto onsets = burstOnsetsMs(*chunks);
    double first = 0.0, last = 0.0;
    int firstCount = 0, lastCount = 0;
    for (const double onset : onsets) {
      const double burst = std::round((onset - firstBurstMs) / kBurstPeriodMs);
      const double late = onset - (firstBurstMs + burst * kBurstPeriodMs);
      if (onset < onsets.front() + 10000.0) first += late, ++firstCount;
      if (onset > onsets.back() - 10000.0) last += late, ++lastCount;
    }
    std::cout << "  " << source << " after the real moments (ms): " << first / firstCount
              << " in the first ten seconds, " << last / lastCount << " in the last ten\n";
  }

  std::size_t apart = 0;
  for (const auto& offset : offsets) {
    if (std::fabs(offset.ms) > kAlignedMs + 1e-6) ++apart;
  }
  EXPECT_EQ(apart, 0u) << "bursts more than " << kAlignedMs << " ms from " << constantMs
                       << " ms apart, of " << offsets.size();
  for (const auto* chunks : {&systemChunks, &microphoneChunks}) {
    EXPECT_TRUE(contiguous(*chunks));
    EXPECT_EQ(breaksOf(*chunks, 1), std::vector<int>{}) << "chunks that do not follow on";
  }
}

INSTANTIATE_TEST_SUITE_P(Ppm, PulseDrift, ::testing::Values(0.0, 100.0, -100.0, 300.0, -300.0),
                         [](const auto& info) {
                           const auto ppm = static_cast<int>(info.param);
                           return ppm < 0 ? "Minus" + std::to_string(-ppm)
                                          : "Plus" + std::to_string(ppm);
                         });

}  // namespace
}  // namespace mirevo::testing
