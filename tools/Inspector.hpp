// Reads an event stream line by line: checks each line and the stream as a
// whole, gathers the recordings, draws each source's envelope and measures
// the lag between the sources, and writes each source's audio to a WAV file
// when a folder is given. Memory stays bounded however long the stream.
//
// Threads: one caller at a time.
#pragma once

#include <filesystem>
#include <istream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "RecordingAudio.hpp"
#include "StreamChecker.hpp"
#include "WavTrack.hpp"

namespace mirevo::inspect {

class Inspector {
 public:
  // With `wavFolder`, one WAV per recording and source goes there, named
  // "recording<N>-<source>.wav".
  explicit Inspector(std::optional<std::filesystem::path> wavFolder = std::nullopt);

  // Reads every line of `input`; a last line without its line feed is read
  // and reported as cut off.
  void read(std::istream& input);

  // One line, without its line feed.
  void readLine(std::string_view line);

  // Closes the WAV files so that their headers are complete, and analyses
  // the lag's last windows.
  void finish();

  const std::vector<Violation>& violations() const { return violations_; }
  const std::vector<InspectedRecording>& recordings() const { return checker_.recordings(); }
  const std::vector<Note>& notes() const { return checker_.notes(); }
  // The WAV files written, by recording number and source.
  const std::map<std::pair<int, std::string>, std::filesystem::path>& wavFiles() const {
    return wavFiles_;
  }
  // How many chunks lay past what a WAV file holds, by the same keys.
  int wavChunksLeftOut(int recording, const std::string& source) const {
    const auto found = wavChunksLeftOut_.find({recording, source});
    return found == wavChunksLeftOut_.end() ? 0 : found->second;
  }
  std::int64_t lineCount() const { return lineNumber_; }
  // The audio of the recording numbered `number`, or nothing when it had none.
  const RecordingAudio* audio(int number) const;

 private:
  void placeAudio(const AudioChunkEvent& chunk, const ChunkPlacement& placement);
  void writeWav(const AudioChunkEvent& chunk, const ChunkPlacement& placement);

  std::optional<std::filesystem::path> wavFolder_;
  StreamChecker checker_;
  std::vector<Violation> violations_;
  std::map<std::pair<int, std::string>, std::unique_ptr<WavTrack>> tracks_;
  std::map<std::pair<int, std::string>, std::filesystem::path> wavFiles_;
  std::map<std::pair<int, std::string>, int> wavChunksLeftOut_;
  std::map<int, std::unique_ptr<RecordingAudio>> audio_;
  std::int64_t lineNumber_ = 0;
};

}  // namespace mirevo::inspect
