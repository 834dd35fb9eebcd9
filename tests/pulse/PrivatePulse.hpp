// A private PulseAudio daemon for one test, run by scripts/private-pulse.sh in
// a fresh folder, with this process's PULSE_SERVER pointing at it; stopped,
// and PULSE_SERVER restored, when the object goes. With the environment
// variable MIREVO_TEST_AUDIO_SERVER=pipewire it is a private PipeWire with its
// PulseAudio server instead, run by scripts/private-pipewire.sh.
//
// Its devices: the default sink "mirevo_speakers"; a second output sink
// "mirevo_headphones"; the default source
// "mirevo_mic", fed by what plays into the sink "mirevo_mic_line"; a second
// microphone "mirevo_mic2", fed by "mirevo_mic2_line".
//
// Threads: the test's thread.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace mirevo::testing {

// Whether the tests run on PipeWire (MIREVO_TEST_AUDIO_SERVER=pipewire).
bool onPipeWire();

// Whether the chosen server and the tools that play tones into it are
// installed; tests skip when not.
bool pulseaudioInstalled();

// Runs a command through the shell and returns what it printed on stdout;
// nothing when it failed.
std::optional<std::string> runCommand(const std::string& command);

class PrivatePulse {
 public:
  PrivatePulse();
  ~PrivatePulse();
  PrivatePulse(const PrivatePulse&) = delete;
  PrivatePulse& operator=(const PrivatePulse&) = delete;

  bool running() const { return running_; }
  // What the server's script said when it last failed to start (the end of
  // the server's logs among it); empty otherwise.
  const std::string& startFailure() const { return startFailure_; }
  // The text to give as PULSE_SERVER.
  const std::string& server() const { return server_; }
  const std::string& folder() const { return folder_; }
  // Runs `pactl ARGUMENTS` against this daemon; its stdout, or none on failure.
  std::optional<std::string> pactl(const std::string& arguments) const;
  // Stops the daemon now (as a crash would look to a client).
  void kill();
  // Stops the daemon and starts a new one on the same socket, with the same
  // devices, as a restart of the server does; whether it runs again.
  bool restart();

 private:
  void start();

  std::string folder_;
  std::string server_;
  std::optional<std::string> previousServer_;
  bool running_ = false;
  std::string startFailure_;
};

// The RMS a tone of `amplitude` played by a TonePlayer has when recorded in
// mono from the sink's monitor (or from a microphone remapped from it). The
// sinks are stereo and the server mixes them down: PulseAudio averages the
// channels, PipeWire adds them at -3 dB each, so a tone alike in both channels
// comes out 3 dB louder there.
double recordedToneRms(double amplitude);

// A sine tone played into a sink for as long as the object lives. Throws
// std::runtime_error when the server has no such sink: PipeWire would play
// the tone on its default sink instead.
class TonePlayer {
 public:
  TonePlayer(const std::string& sink, double hertz, double amplitude = 0.5);
  // Short bursts of the tone instead, `burstSeconds` long, one every
  // `everySeconds`, each starting at the sine's zero: sharp onsets to time.
  struct Bursts {
    double hertz = 3000.0;
    double burstSeconds = 0.002;
    double everySeconds = 0.2;
    double amplitude = 0.5;
  };
  TonePlayer(const std::string& sink, const Bursts& bursts);
  ~TonePlayer();
  TonePlayer(const TonePlayer&) = delete;
  TonePlayer& operator=(const TonePlayer&) = delete;

 private:
  // Plays what sox's synth `synthesis` makes (raw float mono at 48 kHz).
  void play(const std::string& sink, const std::string& synthesis);

  pid_t group_ = -1;
};

}  // namespace mirevo::testing
