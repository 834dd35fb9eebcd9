// Every tolerance and limit by which the Linux sources' audio is placed on
// the host clock, in one place, each with the reason for its value. The
// classes that use them: CaptureOrigin (reports), StreamTimeline (the count
// of samples), ReadPlacer (reads gathered and handed over), SystemMix (the
// outputs added together).
#pragma once

#include <cstddef>

namespace mirevo::platform::pulse {

struct TimingLimits {
  // --- The server's timing reports (CaptureOrigin).

  // How many of the newest reports are weighed: older ones are let go, so
  // that clocks that drift apart are followed.
  static constexpr std::size_t kReportsKept = 6;
  // Lateness beyond this may be a loss or a gap. A PipeWire server under
  // load now and then answers from a count a processing cycle old (10 to
  // 14 ms late, seen at a load of 9 on two cores), which is why one late
  // report proves nothing, and drops whole cycles of 512 frames and more
  // (10.7 ms at 48 kHz). A shorter loss is not told from late reports: the
  // audio after it counts as captured earlier by its length. A read that
  // arrives later than the recent ones by more than this asks for reports at
  // once.
  static constexpr double kJumpSeconds = 0.008;
  // The longest loss filled with silence; a longer one is a gap, as the
  // timeline counts gaps.
  static constexpr double kMaxLossSeconds = 0.100;
  // What tells a loss from late reports: reports after this many reads and
  // this much of the stream, all late (reports of one read, or of one busy
  // moment of the server's, may all be late alike).
  static constexpr std::size_t kLossReads = 3;
  static constexpr double kLossSpanSeconds = 0.4;

  // --- The count of samples (StreamTimeline).

  // A read later than the count by more than this came after a real gap (a
  // suspended or stalled source, an overrun, a move); audio cannot come from
  // before the audio already placed, so an earlier one never is.
  static constexpr double kGapSeconds = 0.100;
  // How long reads must go on from a jump before it counts as a real gap: a
  // burst of reads after this process was not scheduled ends sooner.
  static constexpr double kConfirmSeconds = 0.300;
  // The most audio held undecided; beyond it, the newest reads are believed.
  static constexpr double kMaxHeldSeconds = 5.0;
  // Weight of each read in the average difference between reads and count:
  // with a few reads a second, it follows over about a minute.
  static constexpr double kAveragingShare = 0.01;
  // An average difference within this is measurement noise, left alone.
  static constexpr double kDeadBandSeconds = 0.020;
  // The fastest slew, in seconds per second of audio: drift is absorbed long
  // before it reaches a gap, and never heard as a jump.
  static constexpr double kMaxSlew = 0.001;

  // --- Reads gathered and handed over (ReadPlacer).

  // How much audio a handed-over buffer holds at least: a little under two
  // of PipeWire's 250 ms fragments, so that the session's queue wakes about
  // twice a second for each source (each wake-up costs more than its audio
  // does).
  static constexpr double kHandOverSeconds = 0.450;
  // The longest buffer handed over, in seconds: a longer one is split.
  static constexpr double kMaxBufferSeconds = 1.0;
  // How many timing reports a buffer that anchors the timeline waits for,
  // and how much audio waits for them at most (a server that never reports
  // must not hold the recording back).
  static constexpr std::size_t kAnchorReports = 3;
  static constexpr double kReportWaitSeconds = 1.0;
  // How many of the latest reads' lateness a read is weighed against.
  static constexpr std::size_t kLatenessKept = 8;

  // --- The outputs added together (SystemMix).

  // How far an input may lag behind the newest audio before the mix goes on
  // without it: a default output with no sink must not hold the recording
  // back, and a lost PipeWire cycle is told within about this.
  static constexpr double kLateSeconds = 0.5;
  // How far an input's stamps may stray from where its samples go on before
  // they are placed by their stamps again: two clocks' drift shows as a rare
  // step of this size, not as a click at every buffer.
  static constexpr double kAlignSeconds = 0.002;
};

}  // namespace mirevo::platform::pulse
