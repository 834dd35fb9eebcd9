// The Linux backend against a real, private PulseAudio daemon: devices and
// sinks as the server lists them, recordings of tones, failures mid-recording.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <thread>

#include "DeliveredAudio.hpp"
#include "PrivatePulse.hpp"
#include "ToneLevels.hpp"
#include "platform/Clock.hpp"
#include "platform/ThreadQueue.hpp"
#include "platform/pulse/PulseCaptureService.hpp"
#include "platform/pulse/PulseDeviceDiscovery.hpp"
#include "platform/pulse/PulseStream.hpp"
#include "platform/pulse/RecordStream.hpp"

namespace mirevo::platform::pulse {
namespace {

using testing::DeliveredAudio;
using testing::PrivatePulse;
using testing::TonePlayer;
using namespace std::chrono_literals;

constexpr double kRate = 48000.0;

// Polls `condition` until it holds or `limit` passes; whether it held.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// The test's serial queue, counting the work submitted to it.
class CountingQueue final : public SerialQueue {
 public:
  void async(std::function<void()> work) override {
    ++submitted;
    queue_.async(std::move(work));
  }
  void sync(std::function<void()> work) override { queue_.sync(std::move(work)); }
  std::unique_ptr<RepeatingTimer> makeTimer(double intervalSeconds,
                                            std::function<void()> handler) override {
    return queue_.makeTimer(intervalSeconds, std::move(handler));
  }

  std::atomic<int> submitted{0};

 private:
  ThreadQueue queue_{"pulse-test"};
};

class PulseBackend : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::pulseaudioInstalled())
      GTEST_SKIP() << "pulseaudio, pactl, pacat or sox is not installed";
    server_ = std::make_unique<PrivatePulse>();
    ASSERT_TRUE(server_->running()) << "the private PulseAudio daemon did not start"
                                    << ": " << server_->startFailure();
  }

  nlohmann::json pactlJson(const std::string& what) {
    const auto text = server_->pactl("-f json " + what);
    if (!text) return nlohmann::json::array();
    return nlohmann::json::parse(*text);
  }

  std::unique_ptr<PrivatePulse> server_;
  SystemClock clock_;
  PulseCaptureService service_{clock_};
  PulseDeviceDiscovery discovery_;
};

// One recording of the default sink's audio and a microphone, delivered on a
// queue of its own.
struct Recording {
  Recording(CaptureService& service, std::optional<std::string> microphone = std::nullopt) {
    const ShareableContent content = service.shareableContent();
    StreamConfiguration configuration;
    configuration.capturesAudio = true;
    configuration.captureMicrophone = true;
    configuration.microphoneCaptureDeviceID = std::move(microphone);
    configuration.sampleRate = 48000;
    configuration.channelCount = 1;
    stream = service.makeStream({content.displays.at(0), {}, {}}, configuration, audio);
    stream->addStreamOutput(audio, kOutputTypeAudio, queue);
    stream->addStreamOutput(audio, kOutputTypeMicrophone, queue);
  }

  bool waitForSeconds(double seconds, std::chrono::milliseconds limit = 10s) const {
    return audio->waitFor(
        [seconds](const DeliveredAudio& recorded) {
          return recorded.secondsOf(kOutputTypeAudio) >= seconds &&
                 recorded.secondsOf(kOutputTypeMicrophone) >= seconds;
        },
        limit);
  }

  std::shared_ptr<DeliveredAudio> audio = std::make_shared<DeliveredAudio>();
  std::shared_ptr<CountingQueue> queue = std::make_shared<CountingQueue>();
  std::unique_ptr<Stream> stream;
};

// The gaps of more than 100 ms between where a buffer ends and where the next
// one starts (negative ones are overlaps).
std::vector<double> jumpsOf(const std::vector<testing::DeliveredBuffer>& buffers) {
  std::vector<double> jumps;
  for (std::size_t i = 1; i < buffers.size(); ++i) {
    const double expected = buffers[i - 1].presentationSeconds + buffers[i - 1].frames / kRate;
    const double jump = buffers[i].presentationSeconds - expected;
    if (std::fabs(jump) > 0.1) jumps.push_back(jump);
  }
  return jumps;
}

// The last second of `samples` holds the tone of `hertz` at its level, and
// none of the tones `others` (played into devices not recorded).
void expectTone(const std::vector<float>& samples, double hertz, double amplitude,
                const std::vector<double>& others) {
  const auto last = testing::lastSeconds(samples, 1.0, kRate);
  ASSERT_GE(last.size(), kRate * 0.99);
  EXPECT_TRUE(testing::tonesPresent(last, kRate, {hertz}));
  EXPECT_TRUE(testing::tonesAbsent(last, kRate, others));
  const auto levels = testing::toneLevels(last, kRate, {hertz});
  EXPECT_NEAR(levels.toneRms[0], testing::recordedToneRms(amplitude), 0.03)
      << levels.describe({hertz});
}

TEST_F(PulseBackend, DevicesAreTheServersSourcesWithoutMonitors) {
  std::vector<std::string> expected;
  for (const auto& source : pactlJson("list sources")) {
    // A monitor names the sink it records.
    if (source.value("monitor_source", "").empty()) expected.push_back(source.at("name"));
  }
  std::vector<std::string> listed;
  for (const auto& device : discovery_.discoverAudioDevices()) {
    listed.push_back(device.uniqueID);
    EXPECT_FALSE(device.localizedName.empty()) << device.uniqueID;
  }
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(listed, (std::vector<std::string>{"mirevo_mic", "mirevo_mic2"}));

  const auto preferred = discovery_.defaultAudioDevice();
  ASSERT_TRUE(preferred.has_value());
  EXPECT_EQ(preferred->uniqueID, "mirevo_mic");
  EXPECT_EQ(preferred->localizedName, "Mirevo_Mic");

  ASSERT_TRUE(server_->pactl("set-default-source mirevo_mic2"));
  EXPECT_EQ(discovery_.defaultAudioDevice()->uniqueID, "mirevo_mic2");
}

TEST_F(PulseBackend, AMonitorAsDefaultSourceMeansNoDefaultMicrophone) {
  ASSERT_TRUE(server_->pactl("set-default-source mirevo_speakers.monitor"));
  EXPECT_FALSE(discovery_.defaultAudioDevice().has_value());
  EXPECT_EQ(discovery_.discoverAudioDevices().size(), 2u);
}

TEST_F(PulseBackend, DisplaysAreTheSinksDefaultFirstWithTheirMonitors) {
  auto content = service_.shareableContent();
  ASSERT_EQ(content.displays.size(), 4u);
  EXPECT_EQ(content.displays[0].id, "mirevo_speakers");
  EXPECT_EQ(content.displays[0].name, "Mirevo_Speakers");
  EXPECT_EQ(content.displays[0].audioSource, "mirevo_speakers.monitor");

  ASSERT_TRUE(server_->pactl("set-default-sink mirevo_mic2_line"));
  content = service_.shareableContent();
  ASSERT_EQ(content.displays.size(), 4u);
  EXPECT_EQ(content.displays[0].id, "mirevo_mic2_line");
  EXPECT_EQ(content.displays[0].audioSource, "mirevo_mic2_line.monitor");
  EXPECT_EQ(content.displays[1].id, "mirevo_speakers");
}

TEST_F(PulseBackend, WithoutAServerThereAreNoDevicesAndNoContent) {
  server_->kill();
  EXPECT_TRUE(discovery_.discoverAudioDevices().empty());
  EXPECT_FALSE(discovery_.defaultAudioDevice().has_value());
  try {
    service_.shareableContent();
    FAIL() << "content without a server";
  } catch (const Error& error) {
    EXPECT_EQ(error.domain(), "PulseAudio");
    EXPECT_EQ(error.localizedDescription(), "Connection refused");
  }
}

TEST_F(PulseBackend, RecordsTheSystemsAudioAndTheMicrophoneOnTheHostClock) {
  TonePlayer speakers("mirevo_speakers", 440.0);
  TonePlayer microphone("mirevo_mic_line", 1000.0);
  Recording recording(service_);
  const double startedAt = clock_.hostSeconds();
  recording.stream->startCapture();
  ASSERT_TRUE(recording.waitForSeconds(2.5));
  recording.stream->stopCapture();
  recording.queue->sync([] {});
  const double stoppedAt = clock_.hostSeconds();

  const auto system = recording.audio->source(kOutputTypeAudio);
  const auto mic = recording.audio->source(kOutputTypeMicrophone);
  expectTone(system.samples, 440.0, 0.5, {1000.0});
  expectTone(mic.samples, 1000.0, 0.5, {440.0});
  EXPECT_TRUE(recording.audio->stopErrors().empty());

  for (const auto* source : {&system, &mic}) {
    ASSERT_FALSE(source->buffers.empty());
    // Buffers of at most a second, each a continuation of the one before on
    // the sample count. Usually they hold the hand-over size and a fragment,
    // but audio that waits for the reports which anchor the timeline, or
    // that a loaded machine read late, comes as one buffer of up to a second.
    const double mostFrames = TimingLimits::kMaxBufferSeconds * kRate;
    for (std::size_t i = 1; i < source->buffers.size(); ++i) {
      const auto& before = source->buffers[i - 1];
      const auto& buffer = source->buffers[i];
      EXPECT_LE(buffer.frames, mostFrames) << "buffer " << i;
      EXPECT_NEAR(buffer.presentationSeconds - before.presentationSeconds, before.frames / kRate,
                  0.002)
          << "buffer " << i;
    }
    // And the timeline lies where the host clock was while recording; audio
    // captured before the start is not part of it.
    EXPECT_GE(source->buffers.front().presentationSeconds, startedAt);
    const auto& last = source->buffers.back();
    EXPECT_LT(last.presentationSeconds + last.frames / kRate, stoppedAt + 0.05);
    EXPECT_GT(last.presentationSeconds + last.frames / kRate, stoppedAt - 0.3);
  }
}

TEST_F(PulseBackend, RecordsTheRequestedMicrophone) {
  TonePlayer first("mirevo_mic_line", 1000.0);
  TonePlayer second("mirevo_mic2_line", 660.0, 0.25);
  Recording recording(service_, "mirevo_mic2");
  recording.stream->startCapture();
  ASSERT_TRUE(recording.waitForSeconds(1.5));
  recording.stream->stopCapture();
  expectTone(recording.audio->source(kOutputTypeMicrophone).samples, 660.0, 0.25, {1000.0});
}

TEST_F(PulseBackend, WithAMonitorAsDefaultSourceOnlyTheSystemsAudioArrives) {
  ASSERT_TRUE(server_->pactl("set-default-source mirevo_speakers.monitor"));
  TonePlayer speakers("mirevo_speakers", 440.0);
  Recording recording(service_);
  recording.stream->startCapture();
  ASSERT_TRUE(recording.audio->waitFor(
      [](const DeliveredAudio& recorded) { return recorded.secondsOf(kOutputTypeAudio) >= 1.5; }));
  recording.stream->stopCapture();
  recording.queue->sync([] {});
  EXPECT_TRUE(recording.audio->source(kOutputTypeMicrophone).buffers.empty());
  expectTone(recording.audio->source(kOutputTypeAudio).samples, 440.0, 0.5, {});
}

TEST_F(PulseBackend, AnUnknownMicrophoneFailsTheStartWithTheServersText) {
  Recording recording(service_, "no_such_microphone");
  try {
    recording.stream->startCapture();
    FAIL() << "started on an unknown microphone";
  } catch (const Error& error) {
    EXPECT_EQ(error.domain(), "PulseAudio");
    EXPECT_EQ(error.localizedDescription(), "No such entity");
  }
  recording.stream->stopCapture();
  recording.queue->sync([] {});
  EXPECT_EQ(recording.audio->outputCalls(), 0);
}

TEST_F(PulseBackend, ARemovedNamedMicrophoneStopsTheStreamOnceWithTheServersText) {
  TonePlayer speakers("mirevo_speakers", 440.0);
  Recording recording(service_, "mirevo_mic");
  recording.stream->startCapture();
  ASSERT_TRUE(recording.waitForSeconds(0.5));
  ASSERT_TRUE(server_->pactl("unload-module module-remap-source"));
  ASSERT_TRUE(recording.audio->waitFor(
      [](const DeliveredAudio& recorded) { return recorded.stopCount() > 0; }));
  // The system's audio goes on; the stop is reported only once.
  const double systemSeconds = recording.audio->source(kOutputTypeAudio).seconds();
  ASSERT_TRUE(recording.audio->waitFor([systemSeconds](const DeliveredAudio& recorded) {
    return recorded.secondsOf(kOutputTypeAudio) >= systemSeconds + 0.5;
  }));
  EXPECT_EQ(recording.audio->stopErrors(), std::vector<std::string>{"Entity killed"});
  recording.stream->stopCapture();
  EXPECT_EQ(recording.audio->stopErrors().size(), 1u);
}

TEST_F(PulseBackend, AKilledServerLeavesNothingThatWasReadBehindAndStopStillReturns) {
  TonePlayer speakers("mirevo_speakers", 440.0);
  TonePlayer microphone("mirevo_mic_line", 1000.0);
  Recording recording(service_);
  recording.stream->startCapture();
  ASSERT_TRUE(recording.waitForSeconds(1.0));
  const auto& stream = dynamic_cast<const PulseStream&>(*recording.stream);
  server_->kill();
  // Reading has stopped once the count stays put.
  std::int64_t lastRead = -1;
  ASSERT_TRUE(eventually([&] {
    const std::int64_t read =
        stream.framesRead(kOutputTypeAudio) + stream.framesRead(kOutputTypeMicrophone);
    const bool settled = read == lastRead;
    lastRead = read;
    if (!settled) std::this_thread::sleep_for(200ms);
    return settled;
  }));
  for (const int type : {kOutputTypeAudio, kOutputTypeMicrophone}) {
    SCOPED_TRACE(type);
    const std::int64_t read = stream.framesRead(type);
    EXPECT_GE(read, kRate);
    EXPECT_TRUE(recording.audio->waitFor(
        [&](const DeliveredAudio& recorded) { return recorded.framesOf(type) == read; }, 2s))
        << recording.audio->source(type).buffers.size() << " buffers, "
        << recording.audio->source(type).seconds() * kRate << " of " << read << " frames";
  }
  // It is still trying to reconnect: nothing was told, and a stop ends that.
  recording.stream->stopCapture();
  recording.stream.reset();
  EXPECT_EQ(recording.audio->stopErrors(), std::vector<std::string>{});
}

TEST_F(PulseBackend, WithoutAnySinkTheSystemsAudioWaitsForOneToAppear) {
  Recording recording(service_);
  recording.stream->startCapture();
  ASSERT_TRUE(recording.waitForSeconds(0.3));
  // Every sink goes, and with them the microphones they feed.
  ASSERT_TRUE(server_->pactl("unload-module module-null-sink"));
  ASSERT_TRUE(server_->pactl("load-module module-null-sink sink_name=mirevo_later"));
  ASSERT_TRUE(server_->pactl("list short sinks")->find("mirevo_later") != std::string::npos);
  TonePlayer later("mirevo_later", 550.0);
  const double before = recording.audio->source(kOutputTypeAudio).seconds();
  ASSERT_TRUE(recording.audio->waitFor([before](const DeliveredAudio& recorded) {
    return recorded.secondsOf(kOutputTypeAudio) >= before + 1.5;
  }));
  recording.stream->stopCapture();
  recording.queue->sync([] {});

  EXPECT_EQ(recording.audio->stopErrors(), std::vector<std::string>{});
  const auto system = recording.audio->source(kOutputTypeAudio);
  // The new sink's tone.
  EXPECT_TRUE(
      testing::tonesPresent(testing::lastSeconds(system.samples, 1.0, kRate), kRate, {550.0}));
  for (const double jump : jumpsOf(system.buffers)) EXPECT_GT(jump, 0.0) << "an overlap";
}

TEST_F(PulseBackend, ASuspendedSinkLeavesAGapOfItsLengthInTheTimeline) {
  TonePlayer speakers("mirevo_speakers", 440.0);
  Recording recording(service_);
  recording.stream->startCapture();
  ASSERT_TRUE(recording.waitForSeconds(0.5));
  ASSERT_TRUE(server_->pactl("suspend-sink mirevo_speakers 1"));
  // The gap is the point of this test: a real second without audio.
  std::this_thread::sleep_for(1s);
  ASSERT_TRUE(server_->pactl("suspend-sink mirevo_speakers 0"));
  const double before = recording.audio->source(kOutputTypeAudio).seconds();
  ASSERT_TRUE(recording.audio->waitFor([before](const DeliveredAudio& recorded) {
    return recorded.secondsOf(kOutputTypeAudio) >= before + 0.5;
  }));
  recording.stream->stopCapture();

  const auto jumps = jumpsOf(recording.audio->source(kOutputTypeAudio).buffers);
  if (testing::onPipeWire()) {
    // PipeWire keeps a suspended sink's monitor running on its clock: the
    // second arrives as silence, in time, so there is no gap to place.
    EXPECT_EQ(jumps, std::vector<double>{});
    return;
  }
  ASSERT_EQ(jumps.size(), 1u) << ::testing::PrintToString(jumps);
  EXPECT_NEAR(jumps[0], 1.0, 0.25);
}

TEST_F(PulseBackend, NothingReachesTheOutputsAfterTheStreamIsDestroyed) {
  TonePlayer speakers("mirevo_speakers", 440.0);
  Recording recording(service_);
  recording.stream->startCapture();
  ASSERT_TRUE(recording.waitForSeconds(0.3));
  // Hold the queue so that buffers wait on it while the stream goes away.
  std::promise<void> held;
  std::promise<void> release;
  recording.queue->async([&held, gate = release.get_future().share()] {
    held.set_value();
    gate.wait();
  });
  ASSERT_EQ(held.get_future().wait_for(10s), std::future_status::ready);
  const int before = recording.audio->outputCalls();
  const int submitted = recording.queue->submitted;
  const bool waiting = eventually([&] { return recording.queue->submitted >= submitted + 2; });
  std::thread destroy([&] { recording.stream.reset(); });
  destroy.join();
  release.set_value();
  ASSERT_TRUE(waiting) << "no buffer waited behind the held queue";
  recording.queue->sync([] {});
  EXPECT_EQ(recording.audio->outputCalls(), before);
}

// A delegate that owns the stream and lets it go when told of the stop, so the
// stream is destroyed on the thread that tells it.
class OwningDelegate final : public StreamDelegate {
 public:
  void didStopWithError(const Error&) override {
    stream.reset();
    told.set_value();
  }
  std::unique_ptr<Stream> stream;
  std::promise<void> told;
};

TEST_F(PulseBackend, AStreamReleasedByItsDelegateWhenToldOfTheStopGoesQuietly) {
  const ShareableContent content = service_.shareableContent();
  StreamConfiguration configuration;
  configuration.capturesAudio = true;
  configuration.captureMicrophone = true;
  configuration.channelCount = 1;
  auto owner = std::make_shared<OwningDelegate>();
  auto audio = std::make_shared<DeliveredAudio>();
  auto queue = std::make_shared<ThreadQueue>("pulse-test");
  configuration.microphoneCaptureDeviceID = "mirevo_mic";
  owner->stream = service_.makeStream({content.displays.at(0), {}, {}}, configuration, owner);
  owner->stream->addStreamOutput(audio, kOutputTypeAudio, queue);
  owner->stream->addStreamOutput(audio, kOutputTypeMicrophone, queue);
  owner->stream->startCapture();
  ASSERT_TRUE(audio->waitFor([](const DeliveredAudio& recorded) {
    return recorded.secondsOf(kOutputTypeMicrophone) >= 0.3;
  }));
  ASSERT_TRUE(server_->pactl("unload-module module-remap-source"));
  auto told = owner->told.get_future();
  ASSERT_EQ(told.wait_for(10s), std::future_status::ready);
  queue->sync([] {});
  const int calls = audio->outputCalls();
  // A stream of its own shows the speakers' monitor delivering meanwhile.
  Recording observer(service_);
  observer.stream->startCapture();
  ASSERT_TRUE(observer.audio->waitFor(
      [](const DeliveredAudio& recorded) { return recorded.secondsOf(kOutputTypeAudio) >= 0.5; }));
  queue->sync([] {});
  EXPECT_EQ(audio->outputCalls(), calls);
}

}  // namespace
}  // namespace mirevo::platform::pulse
