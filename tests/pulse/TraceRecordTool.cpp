// Records the timing of sources on the server PULSE_SERVER names, through the
// record stream's own plumbing, and prints it as a timing trace (TimingTrace.hpp):
//
//   pulse_trace_record KIND SECONDS SOURCE...
//
// KIND is pulseaudio or pipewire. A lost connection (a restarted server) is
// tried again until the end; the sources are then recorded on as new
// streams, each with its floor where the stream before it ended, as the
// agent does. A test tool: the agent itself has nothing of the sort.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TimingTrace.hpp"
#include "platform/Clock.hpp"
#include "platform/pulse/PulseConnection.hpp"
#include "platform/pulse/RecordStream.hpp"

namespace {

using mirevo::platform::SystemClock;
using mirevo::platform::pulse::PulseConnection;
using mirevo::platform::pulse::ReadPlacer;
using mirevo::platform::pulse::RecordStream;
using mirevo::testing::OnsetFinder;

constexpr int kRate = 48000;

// One stream's reads and reports, written as they come (on the loop thread,
// with the connection's lock held).
struct Traced final : RecordStream::Listener {
  Traced(std::ostringstream& out, int id) : out(out), id(id) {}
  void read(const ReadPlacer::Read& read) override {
    std::vector<std::int64_t> onsets;
    finder.find(read.samples, read.firstFrame, kRate, onsets);
    mirevo::testing::writeTraceRead(out, id, read, onsets);
  }
  void report(const ReadPlacer::Report& report) override {
    mirevo::testing::writeTraceReport(out, id, report);
  }
  std::ostringstream& out;
  int id;
  OnsetFinder finder;
};

struct Source {
  std::string name;
  double floorSeconds;
  std::unique_ptr<Traced> traced;
  std::unique_ptr<RecordStream> stream;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: pulse_trace_record pulseaudio|pipewire SECONDS SOURCE...\n";
    return 2;
  }
  const std::string kind = argv[1];
  const double seconds = std::atof(argv[2]);
  SystemClock clock;
  std::ostringstream out;
  out << std::fixed << std::setprecision(6);
  mirevo::testing::writeTraceHeader(out, kind, kRate);
  std::vector<Source> sources;
  for (int i = 3; i < argc; ++i) sources.push_back(Source{argv[i], clock.hostSeconds(), {}, {}});

  const double endAt = clock.hostSeconds() + seconds;
  int nextId = 0;
  while (clock.hostSeconds() < endAt) {
    std::unique_ptr<PulseConnection> connection;
    try {
      connection = std::make_unique<PulseConnection>("Mirevo trace", 1.0);
    } catch (const std::exception&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      continue;
    }
    std::atomic<bool> ended = false;
    {
      PulseConnection::Lock lock(*connection);
      connection->onFailure([&ended](int) { ended = true; });
      for (Source& source : sources) {
        const int id = nextId++;
        out << "stream " << id << " " << source.floorSeconds << " " << source.name << "\n";
        source.traced = std::make_unique<Traced>(out, id);
        RecordStream::Settings settings;
        settings.source = source.name;
        settings.sampleRate = kRate;
        settings.floorSeconds = source.floorSeconds;
        settings.listener = source.traced.get();
        source.stream = std::make_unique<RecordStream>(
            *connection, clock, settings, [](auto) {}, [&ended](int) { ended = true; });
      }
      try {
        connection->waitUntil([&] {
          for (const Source& source : sources) {
            if (!source.stream->ready() && !source.stream->ended()) return false;
          }
          return true;
        });
      } catch (const std::exception&) {
        ended = true;
      }
      for (Source& source : sources) {
        out << "deliver " << source.traced->id << "\n";
        source.stream->startDelivering();
      }
    }
    while (!ended && clock.hostSeconds() < endAt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      PulseConnection::Lock lock(*connection);
      for (const Source& source : sources) {
        if (source.stream->ended()) ended = true;
      }
    }
    PulseConnection::Lock lock(*connection);
    for (Source& source : sources) {
      source.stream->finish();
      out << "end " << source.traced->id << "\n";
      source.floorSeconds = std::max(source.floorSeconds, source.stream->endSeconds());
      source.stream.reset();
    }
    connection->onFailure(nullptr);
  }
  std::cout << out.str();
  return 0;
}
