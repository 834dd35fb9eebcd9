#include "Inspector.hpp"

#include "EventParser.hpp"

namespace mirevo::inspect {

Inspector::Inspector(std::optional<std::filesystem::path> wavFolder)
    : wavFolder_(std::move(wavFolder)) {}

void Inspector::read(std::istream& input) {
  std::string line;
  while (std::getline(input, line)) {
    readLine(line);
    if (input.eof())
      violations_.push_back({lineNumber_, "does not end in a line feed (the stream is cut off)"});
  }
}

void Inspector::readLine(std::string_view line) {
  ++lineNumber_;
  ParsedLine parsed = parseEventLine(line);
  for (std::string& problem : parsed.problems)
    violations_.push_back({lineNumber_, std::move(problem)});
  if (!parsed.event) return;
  const auto placement = checker_.accept(lineNumber_, *parsed.event, violations_);
  if (placement) placeAudio(std::get<AudioChunkEvent>(*parsed.event), *placement);
}

void Inspector::placeAudio(const AudioChunkEvent& chunk, const ChunkPlacement& placement) {
  if (chunk.samples.empty()) return;
  auto& audio = audio_[placement.recording];
  if (!audio) {
    // A new recording: the ones before it have ended.
    for (auto& [number, earlier] : audio_)
      if (earlier) earlier->lag.finish();
    audio = std::make_unique<RecordingAudio>();
  }
  const bool microphone = chunk.source == "microphone";
  (microphone ? audio->microphone : audio->system)
      .add(placement.startMs, chunk.samples, chunk.sampleRate);
  if (microphone) {
    audio->lag.addMicrophone(placement.startMs, chunk.samples, chunk.sampleRate);
  } else {
    audio->lag.addSystem(placement.startMs, chunk.samples, chunk.sampleRate);
  }
  writeWav(chunk, placement);
}

void Inspector::writeWav(const AudioChunkEvent& chunk, const ChunkPlacement& placement) {
  if (!wavFolder_) return;
  const auto key = std::make_pair(placement.recording, chunk.source);
  auto& track = tracks_[key];
  if (!track) {
    auto path = *wavFolder_ /
                ("recording" + std::to_string(placement.recording) + "-" + chunk.source + ".wav");
    track = std::make_unique<WavTrack>(path, chunk.sampleRate);
    wavFiles_[key] = std::move(path);
  }
  if (!track->place(chunk, placement.continues)) ++wavChunksLeftOut_[key];
}

const RecordingAudio* Inspector::audio(int number) const {
  const auto found = audio_.find(number);
  return found == audio_.end() ? nullptr : found->second.get();
}

void Inspector::finish() {
  tracks_.clear();
  for (auto& [number, audio] : audio_) audio->lag.finish();
}

}  // namespace mirevo::inspect
