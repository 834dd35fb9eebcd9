// Cost of keeping a drifting microphone on the host clock: ten minutes of
// 48 kHz mono float32 audio in 20 ms reads through RateFollower, with timing
// reports twice a second, for a device on the host clock (passed through)
// and one 300 ppm off (resampled), against the baseline of copying the same
// reads. Reports CPU seconds per audio hour and the share of one core; the
// last line is the summary.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/pulse/RateFollower.hpp"

namespace {

constexpr double kRate = 48000.0;
constexpr double kSeconds = 600.0;
constexpr std::size_t kReadFrames = 960;

double cpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// CPU seconds for the whole stretch; `handle` gets each read.
template <typename Handle>
double run(double ppm, Handle& handle) {
  const double deviceRate = kRate * (1.0 + ppm * 1e-6);
  std::vector<float> read(kReadFrames);
  for (std::size_t i = 0; i < read.size(); ++i) {
    read[i] = static_cast<float>(0.5 * std::sin(2.0 * 3.14159265358979 * 1000.0 * i / kRate));
  }
  const double start = cpuSeconds();
  double nextReport = 0.5;
  std::int64_t frames = 0;
  while (static_cast<double>(frames) / deviceRate < kSeconds) {
    frames += static_cast<std::int64_t>(kReadFrames);
    const double now = static_cast<double>(frames) / deviceRate;
    for (; nextReport <= now; nextReport += 0.5) {
      handle.report(1000.0 + nextReport - 0.002,
                    static_cast<std::int64_t>((nextReport - 0.002) * deviceRate));
    }
    handle.follow(read);
  }
  return cpuSeconds() - start;
}

struct Copy {
  std::vector<float> into = std::vector<float>(kReadFrames);
  void report(double, std::int64_t) {}
  void follow(const std::vector<float>& read) {
    std::memcpy(into.data(), read.data(), std::min(read.size(), into.size()) * sizeof(float));
  }
};

struct Follow {
  mirevo::platform::pulse::RateFollower follower{1, kRate, false};
  std::size_t out = 0;
  void report(double seconds, std::int64_t frames) { follower.report(seconds, frames); }
  void follow(const std::vector<float>& read) { out += follower.follow(read).size(); }
};

}  // namespace

int main() {
  Copy copied;
  const double copy = run(0.0, copied);
  Follow nominal;
  const double passed = run(0.0, nominal);
  Follow drifting;
  const double resampled = run(300.0, drifting);
  const double perHour = 3600.0 / kSeconds;
  std::printf("copy: %.3f s per audio hour\n", copy * perHour);
  std::printf("on the host clock: %.3f s per audio hour (resampling: %s)\n", passed * perHour,
              nominal.follower.resampling() ? "yes" : "no");
  std::printf("300 ppm off: %.3f s per audio hour (resampling: %s)\n", resampled * perHour,
              drifting.follower.resampling() ? "yes" : "no");
  std::printf(
      "rate-follower: passed_through_core_share=%.5f resampled_core_share=%.5f "
      "copy_core_share=%.5f\n",
      passed / kSeconds, resampled / kSeconds, copy / kSeconds);
  return 0;
}
