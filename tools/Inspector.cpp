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
  if (!wavFolder_ || chunk.samples.empty()) return;
  const auto key = std::make_pair(placement.recording, chunk.source);
  auto& track = tracks_[key];
  if (!track) {
    auto path = *wavFolder_ /
                ("recording" + std::to_string(placement.recording) + "-" + chunk.source + ".wav");
    track = std::make_unique<WavTrack>(path, chunk.sampleRate);
    wavFiles_[key] = std::move(path);
  }
  track->place(chunk, placement.continues);
}

void Inspector::finish() {
  tracks_.clear();
}

}  // namespace mirevo::inspect
