// Throughput of the audio path: 600 s of 48 kHz stereo float32 audio in 10 ms
// buffers through AudioChunks::append, its one-second cuts and the writing of
// every audio_chunk line (to /dev/null). Compared with a plain memcpy of the
// same input and with the pipeline a user would otherwise reach for:
//   sox ... remix - | base64 -w0
// Reports audio seconds per CPU second (rtf) and heap allocations per chunk in
// steady state. The last line is the summary.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "audio/AudioChunks.hpp"
#include "audio/EscapedBase64.hpp"
#include "events/Output.hpp"
#include "platform/Clock.hpp"
#include "platform/SampleBuffer.hpp"

// Every heap allocation of the process is counted.
namespace {
std::atomic<long long> allocations{0};
}

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return ::operator new(size);
}
void* operator new(std::size_t size, std::align_val_t align) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  const std::size_t a = static_cast<std::size_t>(align);
  if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t align) {
  return ::operator new(size, align);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}

namespace {

constexpr double kRate = 48000.0;
constexpr int kChannels = 2;
constexpr int kSeconds = 600;
constexpr std::int64_t kFramesPerBuffer = 480;  // 10 ms
constexpr std::int64_t kFrames = static_cast<std::int64_t>(kRate) * kSeconds;
constexpr int kRepeats = 5;

double cpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// A test signal like speech at a normal level: two tones under noise, the
// same on both channels but for gain and noise. Built from one second of
// tones, repeated, to keep set-up short.
std::vector<float> makeInput() {
  const auto rate = static_cast<std::size_t>(kRate);
  std::vector<float> tones(rate);
  for (std::size_t f = 0; f < rate; ++f) {
    const double t = static_cast<double>(f) / kRate;
    tones[f] = static_cast<float>(0.3 * std::sin(2 * M_PI * 220 * t) +
                                  0.1 * std::sin(2 * M_PI * 1375 * t));
  }
  std::vector<float> samples(static_cast<std::size_t>(kFrames) * kChannels);
  std::minstd_rand random(7);
  const auto noise = [&random] {
    return (static_cast<float>(random()) / static_cast<float>(std::minstd_rand::max()) - 0.5f) *
           0.1f;
  };
  for (std::size_t f = 0; f < static_cast<std::size_t>(kFrames); ++f) {
    samples[2 * f] = tones[f % rate] + noise();
    samples[2 * f + 1] = 0.8f * tones[f % rate] + noise();
  }
  return samples;
}

// A 10 ms slice of the input, handed over as the capture stream would.
class SliceBuffer final : public mirevo::platform::SampleBuffer {
 public:
  SliceBuffer(const float* data, double seconds) : data_(data), seconds_(seconds) {}
  bool dataIsReady() const override { return true; }
  std::optional<mirevo::platform::AudioFormat> formatDescription() const override {
    mirevo::platform::AudioFormat format;
    format.sampleRate = kRate;
    format.channelCount = kChannels;
    format.interleaved = true;
    format.sampleType = mirevo::platform::SampleType::float32;
    return format;
  }
  std::int64_t numSamples() const override { return kFramesPerBuffer; }
  std::int32_t copyPcmData(mirevo::platform::PcmBuffer& into) const override {
    const auto target = into.arrayBytes(0);
    std::memcpy(target.data(), data_, target.size());
    return 0;
  }
  double presentationSeconds() const override { return seconds_; }

 private:
  const float* data_;
  double seconds_;
};

class FixedClock final : public mirevo::platform::Clock {
 public:
  double hostSeconds() const override { return 0.0; }
  double uptimeSeconds() const override { return 1.0; }
};

struct PipelineRun {
  double cpu = 0.0;
  double allocsPerChunk = 0.0;
};

PipelineRun runPipeline(const std::vector<float>& input) {
  FixedClock clock;
  mirevo::audio::AudioChunks chunks("job-bench", "system", 0.0, clock);
  constexpr std::int64_t kBuffers = kFrames / kFramesPerBuffer;
  // Steady state: count from the second chunk on, when every buffer is sized.
  constexpr std::int64_t kWarmBuffers = 2 * static_cast<std::int64_t>(kRate) / kFramesPerBuffer;
  long long allocationsAtWarm = 0;
  std::int64_t sequenceAtWarm = 0;
  const double start = cpuSeconds();
  for (std::int64_t b = 0; b < kBuffers; ++b) {
    if (b == kWarmBuffers) {
      allocationsAtWarm = allocations.load();
      sequenceAtWarm = chunks.sequence();
    }
    const SliceBuffer buffer(input.data() + b * kFramesPerBuffer * kChannels,
                             static_cast<double>(b * kFramesPerBuffer) / kRate);
    chunks.append(buffer);
  }
  chunks.flush();
  PipelineRun run;
  run.cpu = cpuSeconds() - start;
  run.allocsPerChunk = static_cast<double>(allocations.load() - allocationsAtWarm) /
                       static_cast<double>(chunks.sequence() - sequenceAtWarm);
  return run;
}

double runMemcpy(const std::vector<float>& input) {
  std::vector<float> working(kFramesPerBuffer * kChannels);
  const double start = cpuSeconds();
  for (std::size_t at = 0; at < input.size(); at += working.size()) {
    std::memcpy(working.data(), input.data() + at, working.size() * sizeof(float));
    asm volatile("" : : "r"(working.data()) : "memory");  // keep every copy
  }
  return cpuSeconds() - start;
}

double childCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// CPU seconds (user + sys of the children) of the sox | base64 pipeline, the
// best of `repeats` runs, or a negative value when it could not run.
double runPeer(const std::vector<float>& input, int repeats) {
  char path[] = "/tmp/mirevo-bench-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return -1.0;
  const auto* bytes = reinterpret_cast<const char*>(input.data());
  std::size_t left = input.size() * sizeof(float);
  while (left > 0) {
    const ssize_t wrote = write(fd, bytes, left);
    if (wrote <= 0) break;
    bytes += wrote;
    left -= static_cast<std::size_t>(wrote);
  }
  close(fd);
  const std::string command = std::string("sox -D -t raw -r 48000 -c 2 -b 32 -e floating-point ") +
                              path +
                              " -t raw -e signed-integer -b 16 - remix - | base64 -w0 > /dev/null";
  double best = -1.0;
  for (int r = 0; r < repeats && left == 0; ++r) {
    const double before = childCpuSeconds();
    const int status = std::system(command.c_str());
    const double cpu = childCpuSeconds() - before;
    if (status != 0) break;
    if (best < 0.0 || cpu < best) best = cpu;
  }
  unlink(path);
  return best;
}

}  // namespace

int main() {
  const std::vector<float> input = makeInput();
  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  mirevo::Output::redirectForTesting(devNull);

  PipelineRun best{1e9, 0.0};
  for (int r = 0; r < kRepeats; ++r) {
    const PipelineRun run = runPipeline(input);
    if (run.cpu < best.cpu) best.cpu = run.cpu;
    best.allocsPerChunk = std::max(best.allocsPerChunk, run.allocsPerChunk);
  }
  double memcpyCpu = 1e9;
  for (int r = 0; r < kRepeats; ++r) memcpyCpu = std::min(memcpyCpu, runMemcpy(input));
  const double peerCpu = runPeer(input, 3);

  const double rtf = kSeconds / best.cpu;
  const double memcpyRtf = kSeconds / memcpyCpu;
  const double peerRtf = peerCpu > 0 ? kSeconds / peerCpu : 0.0;
  std::printf("input: %d s of %.0f Hz %d-channel float32 in %lld-frame buffers\n", kSeconds, kRate,
              kChannels, static_cast<long long>(kFramesPerBuffer));
  std::printf("ours: %.4f CPU s (best of %d), rtf=%.0f, base64 encoder: %s\n", best.cpu, kRepeats,
              rtf, mirevo::audio::canEncodeWithAvx2() ? "avx2" : "portable");
  std::printf("memcpy baseline: %.4f CPU s, rtf=%.0f (ours is %.2f of it)\n", memcpyCpu, memcpyRtf,
              rtf / memcpyRtf);
  if (peerCpu > 0) {
    std::printf("peer (sox | base64): %.3f CPU s (best of 3), rtf=%.0f\n", peerCpu, peerRtf);
  } else {
    std::printf("peer (sox | base64): could not run\n");
  }
  std::printf("pipeline: rtf=%.0f peer_ratio=%.2f allocs_per_chunk=%g\n", rtf,
              peerRtf > 0 ? rtf / peerRtf : 0.0, best.allocsPerChunk);
  return 0;
}
