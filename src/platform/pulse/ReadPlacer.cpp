#include "platform/pulse/ReadPlacer.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace mirevo::platform::pulse {

ReadPlacer::ReadPlacer(const Settings& settings, HandOver handOver)
    : rate_(settings.sampleRate),
      channels_(static_cast<std::size_t>(std::max(1, settings.channelCount))),
      countsLosses_(settings.countsLosses),
      framesKept_(settings.framesKept),
      handOver_(std::move(handOver)),
      origin_(settings.sampleRate, settings.countsLosses),
      timeline_(settings.sampleRate, settings.floorSeconds) {}

std::int64_t ReadPlacer::framesOf(const std::vector<float>& samples) const {
  return static_cast<std::int64_t>(samples.size() / channels_);
}

void ReadPlacer::count(std::int64_t frames) {
  if (framesKept_ != nullptr) framesKept_->fetch_add(frames, std::memory_order_relaxed);
}

bool ReadPlacer::read(const Read& read) {
  const std::int64_t frames = framesOf(read.samples);
  const std::int64_t firstIndex = read.firstFrame + origin_.lostFrames();
  framesRead_ = read.firstFrame + frames;
  // When its first frame was captured, by its arrival: before it by the
  // read's own length and by what the source still held.
  const double arrival =
      read.arrivalSeconds - static_cast<double>(frames) / rate_ - latencySeconds_;
  const CaptureTime captured = captureTimeOf(firstIndex, arrival);
  if (captured.countBroke) breakCount();
  // A read that came late may follow a loss: the reports will tell.
  const bool late = captured.counted && delivering_ && arrivedLate(arrival - captured.seconds);
  if (delivering_ && !gathered_.samples.empty()) {
    // A gap between reads must not vanish inside one gathered buffer.
    const double gatheredEnd =
        gathered_.capturedSeconds + static_cast<double>(framesOf(gathered_.samples)) / rate_;
    if (std::fabs(captured.seconds - gatheredEnd) > TimingLimits::kGapSeconds) handOverGathered();
  }
  // Handing over what came before the gap did not anchor what follows it.
  if (captured.countBroke) anchoring_ = true;
  // Asked before this read may be handed over, so that the report that
  // anchors it is made after it was read.
  const bool wanted = late || wantsReports();
  if (!delivering_) return wanted;  // captured before the recording started
  count(frames);
  gather(read, captured.seconds, firstIndex);
  if (gatheredEnough() && mayPlace()) handOverGathered();
  return wanted;
}

void ReadPlacer::gather(const Read& read, double capturedSeconds, std::int64_t firstIndex) {
  if (gathered_.samples.empty()) {
    gathered_.capturedSeconds = capturedSeconds;
    gathered_.firstFrame = read.firstFrame;
    gathered_.firstIndex = firstIndex;
  }
  gathered_.samples.insert(gathered_.samples.end(), read.samples.begin(), read.samples.end());
}

void ReadPlacer::report(const Report& report) {
  latencySeconds_ = report.latencySeconds;
  if (report.writeIndex < 0) return;
  const std::int64_t lost =
      origin_.report(report.momentSeconds, report.latencySeconds, report.writeIndex, framesRead_);
  if (lost > 0) fillLoss(lost);
  if (delivering_ && anchoring_ && mayPlace() && gatheredEnough()) handOverGathered();
}

bool ReadPlacer::wantsReports() const {
  return (delivering_ && anchoring_ &&
          (origin_.reports() < TimingLimits::kAnchorReports || !origin_.covers(framesRead_))) ||
         origin_.doubted();
}

ReadPlacer::CaptureTime ReadPlacer::captureTimeOf(std::int64_t index, double arrivalSeconds) const {
  const auto counted = origin_.capturedSeconds(index);
  if (!counted) return {arrivalSeconds, false, false};
  // A read may arrive late by a loss the reports have yet to tell, and by
  // however long it waited besides: only more than both breaks the count at
  // once. A read later by more than a gap breaks it too when the reads
  // before it were as late: the reports would have told a loss by then.
  const double late = arrivalSeconds - *counted;
  constexpr std::size_t kRecent = TimingLimits::kLatenessKept / 2;
  const bool lateAsBefore =
      lateness_.size() >= kRecent &&
      *std::min_element(lateness_.end() - kRecent, lateness_.end()) > TimingLimits::kGapSeconds;
  if (late > TimingLimits::kGapSeconds + TimingLimits::kMaxLossSeconds ||
      (late > TimingLimits::kGapSeconds && lateAsBefore) || -late > TimingLimits::kGapSeconds) {
    return {arrivalSeconds, false, true};
  }
  return {*counted, true, false};
}

void ReadPlacer::breakCount() {
  origin_.forget();
  lateness_.clear();
  anchoring_ = true;
}

bool ReadPlacer::arrivedLate(double lateness) {
  // A read is late by however long the server gathered its fragment and this
  // process took to take it; a loss makes every read after it later by the
  // loss.
  const bool late =
      lateness_.size() >= TimingLimits::kLatenessKept / 2 &&
      lateness > *std::min_element(lateness_.begin(), lateness_.end()) + TimingLimits::kJumpSeconds;
  lateness_.push_back(lateness);
  if (lateness_.size() > TimingLimits::kLatenessKept) lateness_.pop_front();
  return late;
}

bool ReadPlacer::gatheredEnough() const {
  return static_cast<double>(framesOf(gathered_.samples)) >= TimingLimits::kHandOverSeconds * rate_;
}

bool ReadPlacer::mayPlace() const {
  if (!anchoring_) return true;
  // The newest report was made after the first of these frames was read: it
  // counts only across them and what the server still held.
  return (origin_.reports() >= TimingLimits::kAnchorReports &&
          origin_.covers(gathered_.firstFrame + 1)) ||
         static_cast<double>(framesOf(gathered_.samples)) >=
             TimingLimits::kReportWaitSeconds * rate_;
}

void ReadPlacer::fillLoss(std::int64_t frames) {
  // The reads weighed since the loss arrived later by its length.
  lateness_.clear();
  if (!delivering_) return;
  if (gathered_.samples.empty()) {
    // Before the next read, whose index already counts the silence.
    gathered_.firstFrame = framesRead_;
    gathered_.firstIndex = framesRead_ + origin_.lostFrames() - frames;
    const auto counted = origin_.capturedSeconds(gathered_.firstIndex);
    gathered_.capturedSeconds = counted ? *counted : timeline_.endSeconds();
  }
  prependSilence(frames);
}

void ReadPlacer::prependSilence(std::int64_t frames) {
  // Counted with what is read, as it is delivered with it.
  count(frames);
  gathered_.samples.insert(gathered_.samples.begin(), static_cast<std::size_t>(frames) * channels_,
                           0.0f);
}

void ReadPlacer::fillLossAcrossBreak(double& captured) {
  if (!countsLosses_ || !timeline_.anchored()) return;
  const double late = captured - timeline_.endSeconds();
  if (late <= TimingLimits::kJumpSeconds || late >= TimingLimits::kGapSeconds) return;
  const std::int64_t frames = std::llround(late * rate_);
  prependSilence(frames);
  captured -= static_cast<double>(frames) / rate_;
}

void ReadPlacer::leaveOutBeforeFloor(double& captured) {
  const std::int64_t early = timeline_.framesBeforeFloor(framesOf(gathered_.samples), captured);
  if (early == 0) return;
  gathered_.samples.erase(
      gathered_.samples.begin(),
      gathered_.samples.begin() + static_cast<std::ptrdiff_t>(early * channels_));
  captured += static_cast<double>(early) / rate_;
  // Never part of the recording.
  count(-early);
}

void ReadPlacer::handOverGathered() {
  if (gathered_.samples.empty()) return;
  const bool anchors = anchoring_;
  anchoring_ = false;  // unless the count breaks here
  // Timed again: the reports that came while it was gathered count it.
  const CaptureTime time = captureTimeOf(gathered_.firstIndex, gathered_.capturedSeconds);
  if (time.countBroke) breakCount();
  double captured = time.seconds;
  if (anchors && time.counted) fillLossAcrossBreak(captured);
  leaveOutBeforeFloor(captured);
  const std::int64_t frames = framesOf(gathered_.samples);
  if (frames == 0) {
    anchoring_ = anchoring_ || anchors;  // nothing was placed
    return;
  }
  std::vector<float> samples = std::move(gathered_.samples);
  gathered_.samples = std::vector<float>();
  gathered_.samples.reserve(static_cast<std::size_t>(2 * TimingLimits::kHandOverSeconds * rate_) *
                            channels_);
  handOver(timeline_.place(frames, captured, std::move(samples)));
}

void ReadPlacer::flush() {
  if (!delivering_) return;
  handOverGathered();
  handOver(timeline_.flush());
}

void ReadPlacer::stop() {
  delivering_ = false;
  gathered_ = Gathered{};
}

void ReadPlacer::handOver(std::vector<Placed> placed) {
  const auto maxFrames = static_cast<std::size_t>(TimingLimits::kMaxBufferSeconds * rate_);
  for (Placed& buffer : placed) {
    const std::size_t frames = buffer.samples.size() / channels_;
    if (frames <= maxFrames) {
      handOver_(std::move(buffer));
      continue;
    }
    for (std::size_t first = 0; first < frames; first += maxFrames) {
      const std::size_t count = std::min(maxFrames, frames - first);
      const auto from = buffer.samples.begin() + static_cast<std::ptrdiff_t>(first * channels_);
      std::vector<float> piece(from, from + static_cast<std::ptrdiff_t>(count * channels_));
      handOver_(Placed{std::move(piece), buffer.startSeconds + static_cast<double>(first) / rate_});
    }
  }
}

}  // namespace mirevo::platform::pulse
