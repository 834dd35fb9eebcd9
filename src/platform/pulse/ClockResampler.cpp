#include "platform/pulse/ClockResampler.hpp"

#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <new>

namespace mirevo::platform::pulse {

ClockResampler::ClockResampler(std::size_t channels)
    : channels_(std::max<std::size_t>(1, channels)) {
  int error = 0;
  state_ = src_new(SRC_SINC_FASTEST, static_cast<int>(channels_), &error);
  if (state_ == nullptr) throw std::bad_alloc();
}

ClockResampler::~ClockResampler() {
  src_delete(state_);
}

void ClockResampler::setRatio(double inputPerOutput) {
  if (inputPerOutput == inputPerOutput_) return;
  inputPerOutput_ = inputPerOutput;
  // At once rather than ramped over the next call, so that every output
  // frame of a call steps through the input by the same amount.
  src_set_ratio(state_, 1.0 / inputPerOutput_);
}

double ClockResampler::start(double inputPerOutput, std::span<const float> history) {
  src_reset(state_);
  inputPerOutput_ = inputPerOutput;
  src_set_ratio(state_, 1.0 / inputPerOutput_);
  started_ = true;
  // Output frame j lies at input frame j * ratio, counted from the first
  // frame given; those within the history were handed out already.
  const auto historyFrames = static_cast<double>(history.size() / channels_);
  const auto within = static_cast<std::size_t>(std::ceil(historyFrames / inputPerOutput_));
  toDrop_ = within;
  std::vector<float> ahead;
  process(history, ahead);
  return static_cast<double>(within) * inputPerOutput_ - historyFrames;
}

void ClockResampler::stop() {
  started_ = false;
  toDrop_ = 0;
}

std::size_t ClockResampler::process(std::span<const float> input, std::vector<float>& output) {
  const std::size_t before = output.size();
  SRC_DATA data{};
  data.data_in = input.data();
  data.input_frames = static_cast<long>(input.size() / channels_);
  data.src_ratio = 1.0 / inputPerOutput_;
  do {
    // Room for every frame this input can make, and some more.
    const auto room =
        static_cast<long>(static_cast<double>(data.input_frames) / inputPerOutput_) + 64;
    const std::size_t at = output.size();
    output.resize(at + static_cast<std::size_t>(room) * channels_);
    data.data_out = output.data() + at;
    data.output_frames = room;
    if (src_process(state_, &data) != 0) data.output_frames_gen = data.input_frames_used = 0;
    output.resize(at + static_cast<std::size_t>(data.output_frames_gen) * channels_);
    data.data_in += data.input_frames_used * static_cast<long>(channels_);
    data.input_frames -= data.input_frames_used;
  } while (data.input_frames > 0 && (data.input_frames_used > 0 || data.output_frames_gen > 0));
  // The first frames after start() lie within the history.
  const std::size_t made = (output.size() - before) / channels_;
  const std::size_t dropped = std::min(toDrop_, made);
  output.erase(output.begin() + static_cast<std::ptrdiff_t>(before),
               output.begin() + static_cast<std::ptrdiff_t>(before + dropped * channels_));
  toDrop_ -= dropped;
  return made - dropped;
}

}  // namespace mirevo::platform::pulse
