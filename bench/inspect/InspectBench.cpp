// The inspector on a long stream: generates a recording of both sources at
// 48 kHz (an hour unless told otherwise) in which the microphone hears the
// system audio 12.5 ms later, drifting by 0.5 ms a minute, then times
// mirevo-inspect on it against the baseline of reading the file
// (`cat FILE > /dev/null`) and reads its peak resident memory.
//
//   bench_inspect [MINUTES] [FILE]
//
// FILE (default: mirevo-inspect-bench.jsonl in the temporary folder) is kept,
// so that a second run skips the generation when it is already that long.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "ProcessMemory.hpp"
#include "SpeechLikeSignal.hpp"
#include "TwoSourceStream.hpp"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kLagMs = 12.5;
constexpr double kDriftMsPerMinute = 0.5;

struct Run {
  double seconds = 0;
  double cpuSeconds = 0;  // user and system: less swayed by other work on the machine
  long peakKiB = 0;
  int status = -1;
};

// Runs `arguments` with its standard output in `output`; times it and reads
// its peak memory.
Run run(const std::vector<std::string>& arguments, const char* output) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output, O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  const auto start = Clock::now();
  pid_t child = 0;
  Run result;
  if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0) return result;
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.peakKiB = mirevo::testing::peakResidentKiB(usage);
  const auto toSeconds = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
  };
  result.cpuSeconds = toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  posix_spawn_file_actions_destroy(&actions);
  return result;
}

void generate(const std::filesystem::path& file, double minutes) {
  const mirevo::testing::SpeechLikeSignal played(1);
  const mirevo::testing::SpeechLikeSignal speaker(2);
  mirevo::testing::TwoSourceRecording recording;
  recording.seconds = minutes * 60;
  recording.system = [&](double t) { return played.at(t); };
  recording.microphone = [&](double t) {
    const double lagMs = kLagMs + kDriftMsPerMinute * t / 60.0;
    return 0.4 * played.at(t - lagMs / 1000.0) + 0.3 * speaker.at(t) +
           0.01 * mirevo::testing::whiteNoiseAt(3, t);
  };
  std::vector<char> buffer(1 << 20);
  std::ofstream out;
  out.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  out.open(file, std::ios::binary);
  mirevo::testing::writeTwoSourceStream(out, recording);
}

void printLagLine(const std::filesystem::path& report) {
  std::ifstream in(report);
  std::string line;
  while (std::getline(in, line))
    if (line.find("lag (") != std::string::npos) std::cout << "report:" << line.substr(1) << '\n';
}

}  // namespace

int main(int argc, char** argv) {
  const double minutes = argc > 1 ? std::atof(argv[1]) : 60.0;
  const std::filesystem::path file =
      argc > 2 ? std::filesystem::path(argv[2])
               : std::filesystem::temp_directory_path() / "mirevo-inspect-bench.jsonl";
  // Each second holds two chunks of 128000 base64 characters.
  const auto expectedBytes = static_cast<std::uintmax_t>(minutes * 60 * 2 * 128000);
  if (!std::filesystem::exists(file) || std::filesystem::file_size(file) < expectedBytes) {
    const auto start = Clock::now();
    generate(file, minutes);
    std::printf("generated %.1f minutes of two 48 kHz sources in %.1f s\n", minutes,
                std::chrono::duration<double>(Clock::now() - start).count());
  }
  const double mebibytes = static_cast<double>(std::filesystem::file_size(file)) / (1 << 20);
  std::printf("stream: %s, %.0f MiB; the microphone lags %.1f ms, drifting %+.1f ms/min\n",
              file.c_str(), mebibytes, kLagMs, kDriftMsPerMinute);

  // The baseline, its best of three once the file is in the page cache.
  run({"/bin/cat", file.string()}, "/dev/null");
  Run cat;
  for (int i = 0; i < 3; ++i) {
    const Run once = run({"/bin/cat", file.string()}, "/dev/null");
    if (i == 0 || once.seconds < cat.seconds) cat = once;
  }
  const auto report = std::filesystem::temp_directory_path() / "mirevo-inspect-bench-report.txt";
  const auto svg = std::filesystem::temp_directory_path() / "mirevo-inspect-bench.svg";
  const Run inspect =
      run({MIREVO_INSPECT_PATH, "--svg", svg.string(), file.string()}, report.c_str());
  printLagLine(report);
  std::printf("baseline  cat FILE > /dev/null: %.2f s (%.0f MiB/s), CPU %.2f s\n", cat.seconds,
              mebibytes / cat.seconds, cat.cpuSeconds);
  std::printf("inspect   mirevo-inspect --svg: %.2f s (%.0f MiB/s), CPU %.2f s, exit %d\n",
              inspect.seconds, mebibytes / inspect.seconds, inspect.cpuSeconds, inspect.status);
  std::printf(
      "ratio     inspect / cat: %.1fx in time, %.1fx in CPU; peak RSS %.1f MiB (bound 64 MiB)\n",
      inspect.seconds / cat.seconds, inspect.cpuSeconds / cat.cpuSeconds,
      static_cast<double>(inspect.peakKiB) / 1024.0);
  return inspect.status == 0 ? 0 : 1;
}
