// A microphone whose clock drifts, for tests on a private classic PulseAudio
// server: writes the FIFO of a `module-pipe-source` (s16le mono) at
// rate * (1 + ppm / 1e6) frames per real second, and optionally plays the
// same sounds into a sink (the speakers) at the nominal rate, so that both
// sources hear each sound at the same real moment.
//
//   mirevo-drifting-writer --fifo PATH [--ppm N] [--rate 48000]
//       [--speakers SINK] [--wait-for FILE] [--seconds S]
//       [--every 0.2] [--burst 0.002] [--hertz 3000] [--amplitude 0.5]
//
// A pipe source has no clock of its own: what is written is what it
// delivers, so the writer is the device's clock. It writes on absolute
// CLOCK_MONOTONIC deadlines every 5 ms, as many frames as are due by each
// (the fractional frame carried on, never rounded away). The sounds are
// bursts of a tone, one every `every` seconds of real time from 1.5 s after
// the start; each frame holds the sound of the real moment the drifting
// clock samples it at.
//
// It starts writing only once FILE exists (with --wait-for): a pipe source
// reads only while it is recorded, and audio written before would wait in
// the pipe and come late.
//
// The speakers' side is a playback stream of our own (libpulse-simple, 200 ms
// of buffer), written at the nominal rate on the same deadlines, each sound a
// buffer ahead: they play at a constant time from the microphone's, close to
// the same moment, and the test measures what is left at the start. (Following the stream's latency
// instead moved the sounds by milliseconds whenever its answers wandered.)
//
// It prints one line when it starts writing ("writing at <monotonic s>") and
// runs until SECONDS have passed or it is stopped (SIGTERM, SIGINT).
#include <fcntl.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace {

std::atomic<bool> stopping{false};

void stop(int) {
  stopping = true;
}

struct Options {
  std::string fifo;
  double ppm = 0.0;
  double rate = 48000.0;
  std::string speakers;
  std::string waitFor;
  double seconds = 0.0;  // 0: until stopped
  double every = 0.2;
  double burst = 0.002;
  double hertz = 3000.0;
  double amplitude = 0.5;
};

constexpr double kStepSeconds = 0.005;
// The sounds begin this long after the start, once the speakers play.
constexpr double kFirstBurstSeconds = 1.5;

std::optional<Options> parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--fifo") {
      options.fifo = value;
    } else if (name == "--ppm") {
      options.ppm = std::atof(value);
    } else if (name == "--rate") {
      options.rate = std::atof(value);
    } else if (name == "--speakers") {
      options.speakers = value;
    } else if (name == "--wait-for") {
      options.waitFor = value;
    } else if (name == "--seconds") {
      options.seconds = std::atof(value);
    } else if (name == "--every") {
      options.every = std::atof(value);
    } else if (name == "--burst") {
      options.burst = std::atof(value);
    } else if (name == "--hertz") {
      options.hertz = std::atof(value);
    } else if (name == "--amplitude") {
      options.amplitude = std::atof(value);
    } else {
      return std::nullopt;
    }
  }
  if (options.fifo.empty() || options.rate <= 0.0 || options.every <= options.burst) {
    return std::nullopt;
  }
  return options;
}

double monotonicSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void sleepUntil(double seconds) {
  timespec deadline{};
  deadline.tv_sec = static_cast<time_t>(std::floor(seconds));
  deadline.tv_nsec = static_cast<long>((seconds - std::floor(seconds)) * 1e9);
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    if (stopping) return;
  }
}

// The sound at `seconds` of real time after the start.
double soundAt(const Options& options, double seconds) {
  if (seconds < kFirstBurstSeconds) return 0.0;
  const double into = std::fmod(seconds - kFirstBurstSeconds, options.every);
  if (into >= options.burst) return 0.0;
  return options.amplitude * std::sin(2.0 * std::numbers::pi * options.hertz * into);
}

bool writeAll(int fd, const void* data, std::size_t bytes) {
  const auto* from = static_cast<const char*>(data);
  while (bytes > 0) {
    const ssize_t written = ::write(fd, from, bytes);
    if (written < 0) {
      if (errno == EINTR && !stopping.load()) continue;
      return false;
    }
    from += written;
    bytes -= static_cast<std::size_t>(written);
  }
  return true;
}

// The speakers: a playback stream at the nominal rate, written on the same
// deadlines, so that its frames play a constant time after they are written
// (about its buffer: the server takes them on the host clock, as the writer
// gives them). Its frame j holds the sound of the moment it plays, as far as
// the buffer tells.
class Speakers {
 public:
  static constexpr double kBufferSeconds = 0.2;

  explicit Speakers(const Options& options) : options_(options) {}
  ~Speakers() {
    if (stream_ != nullptr) pa_simple_free(stream_);
  }

  bool open() {
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_FLOAT32LE;
    spec.rate = static_cast<std::uint32_t>(options_.rate);
    spec.channels = 1;
    // A few hundred milliseconds of buffer (kBufferSeconds): a shorter one
    // underruns now and then on a busy machine, and each underrun delays
    // what follows.
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(
        pa_usec_to_bytes(static_cast<pa_usec_t>(kBufferSeconds * 1e6), &spec));
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(-1);
    int error = 0;
    stream_ =
        pa_simple_new(nullptr, "mirevo-drifting-writer", PA_STREAM_PLAYBACK,
                      options_.speakers.c_str(), "bursts", &spec, nullptr, &attributes, &error);
    if (stream_ == nullptr) {
      std::fprintf(stderr, "drifting-writer: no playback on %s: %s\n", options_.speakers.c_str(),
                   pa_strerror(error));
    }
    return stream_ != nullptr;
  }

  // Writes the frames due by `step`.
  bool write(std::int64_t step) {
    const auto due = static_cast<std::int64_t>(
        std::floor(static_cast<double>(step) * kStepSeconds * options_.rate));
    samples_.resize(static_cast<std::size_t>(due - written_));
    for (std::size_t i = 0; i < samples_.size(); ++i) {
      // Played about a buffer after it is written.
      const double real =
          static_cast<double>(written_ + static_cast<std::int64_t>(i)) / options_.rate +
          kBufferSeconds;
      samples_[i] = static_cast<float>(soundAt(options_, real));
    }
    int error = 0;
    if (pa_simple_write(stream_, samples_.data(), samples_.size() * sizeof(float), &error) < 0) {
      std::fprintf(stderr, "drifting-writer: playback failed: %s\n", pa_strerror(error));
      return false;
    }
    written_ = due;
    return true;
  }

 private:
  const Options& options_;
  pa_simple* stream_ = nullptr;
  std::int64_t written_ = 0;
  std::vector<float> samples_;
};

}  // namespace

int main(int argc, char** argv) {
  const auto options = parse(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: mirevo-drifting-writer --fifo PATH [--ppm N] [--rate 48000] "
                 "[--speakers SINK] [--wait-for FILE] [--seconds S] [--every 0.2] "
                 "[--burst 0.002] [--hertz 3000] [--amplitude 0.5]\n");
    return 2;
  }
  // Without SA_RESTART: a write blocked on a pipe nobody reads any more (the
  // source no longer recorded) returns, and the writer ends.
  struct sigaction action {};
  action.sa_handler = stop;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  const int fifo = ::open(options->fifo.c_str(), O_WRONLY);
  if (fifo < 0) {
    std::fprintf(stderr, "drifting-writer: cannot open %s: %s\n", options->fifo.c_str(),
                 std::strerror(errno));
    return 1;
  }
  while (!options->waitFor.empty() && ::access(options->waitFor.c_str(), F_OK) != 0) {
    if (stopping) return 0;
    ::usleep(5000);
  }

  const double start = monotonicSeconds();
  std::optional<Speakers> speakers;
  if (!options->speakers.empty()) {
    speakers.emplace(*options);
    if (!speakers->open()) return 1;
  }
  std::printf("writing at %.6f\n", start);
  std::fflush(stdout);

  const double deviceRate = options->rate * (1.0 + options->ppm * 1e-6);
  std::int64_t written = 0;
  std::vector<std::int16_t> samples;
  for (std::int64_t step = 1; !stopping; ++step) {
    const double deadline = start + static_cast<double>(step) * kStepSeconds;
    if (options->seconds > 0.0 && deadline - start > options->seconds) break;
    sleepUntil(deadline);
    // Every frame due by the deadline on the device's clock; the fraction
    // waits for the next step.
    const auto due = static_cast<std::int64_t>(
        std::floor(static_cast<double>(step) * kStepSeconds * deviceRate));
    samples.resize(static_cast<std::size_t>(due - written));
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const double real = static_cast<double>(written + static_cast<std::int64_t>(i)) / deviceRate;
      samples[i] = static_cast<std::int16_t>(std::lround(soundAt(*options, real) * 32767.0));
    }
    if (!writeAll(fifo, samples.data(), samples.size() * sizeof(std::int16_t))) break;
    written = due;
    if (speakers && !speakers->write(step)) return 1;
  }
  ::close(fifo);
  return 0;
}
