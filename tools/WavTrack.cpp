#include "WavTrack.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace mirevo::inspect {

std::vector<std::int16_t> resampleLinear(std::span<const std::int16_t> samples,
                                         std::int64_t fromRate, std::int64_t toRate) {
  if (fromRate == toRate || samples.empty()) return {samples.begin(), samples.end()};
  const double step = static_cast<double>(fromRate) / static_cast<double>(toRate);
  const auto count =
      std::max<std::int64_t>(1, std::llround(static_cast<double>(samples.size()) / step));
  std::vector<std::int16_t> out(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < out.size(); ++i) {
    const double at = static_cast<double>(i) * step;
    const auto left = std::min(static_cast<std::size_t>(at), samples.size() - 1);
    const auto right = std::min(left + 1, samples.size() - 1);
    const double fraction = at - static_cast<double>(left);
    out[i] = static_cast<std::int16_t>(
        std::lround(samples[left] * (1.0 - fraction) + samples[right] * fraction));
  }
  return out;
}

WavTrack::WavTrack(std::filesystem::path path, std::int64_t sampleRate)
    : path_(std::move(path)), sampleRate_(sampleRate) {
  SF_INFO info{};
  info.samplerate = static_cast<int>(sampleRate);
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  file_ = sf_open(path_.c_str(), SFM_WRITE, &info);
  if (file_ == nullptr)
    throw std::runtime_error("cannot write " + path_.string() + ": " + sf_strerror(nullptr));
}

WavTrack::~WavTrack() {
  sf_close(file_);
}

bool WavTrack::place(const AudioChunkEvent& chunk, bool continues) {
  if (chunk.samples.empty()) return true;
  const std::vector<std::int16_t> samples =
      resampleLinear(chunk.samples, chunk.sampleRate, sampleRate_);
  const std::int64_t frame = continues ? lastChunkEnd_
                                       : std::llround(static_cast<double>(chunk.startedAtMs) *
                                                      static_cast<double>(sampleRate_) / 1000.0);
  if (frame < 0 || frame > kMaxFrames - static_cast<std::int64_t>(samples.size())) return false;
  if (frame > fileFrames_) {
    writeAt(fileFrames_, {});
    writeSilence(frame - fileFrames_);
  }
  writeAt(frame, samples);
  lastChunkEnd_ = frame + static_cast<std::int64_t>(samples.size());
  return true;
}

void WavTrack::writeAt(std::int64_t frame, std::span<const std::int16_t> samples) {
  if (frame != writeFrame_) {
    sf_seek(file_, frame, SEEK_SET);
    writeFrame_ = frame;
  }
  if (samples.empty()) return;
  sf_write_short(file_, samples.data(), static_cast<sf_count_t>(samples.size()));
  writeFrame_ += static_cast<std::int64_t>(samples.size());
  fileFrames_ = std::max(fileFrames_, writeFrame_);
}

void WavTrack::writeSilence(std::int64_t frames) {
  static const std::vector<std::int16_t> kZeros(48000, 0);
  while (frames > 0) {
    const auto block = std::min<std::int64_t>(frames, static_cast<std::int64_t>(kZeros.size()));
    writeAt(writeFrame_, std::span(kZeros).first(static_cast<std::size_t>(block)));
    frames -= block;
  }
}

}  // namespace mirevo::inspect
