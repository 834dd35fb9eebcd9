// One source's waveform envelope: the lowest and highest sample per stretch
// of time, gathered while the stream is read and drawn afterwards as a fixed
// number of columns, however long the recording.
//
// Samples fall into buckets of equal length from the recording's start; when
// a sample lies beyond the last bucket, the buckets' length doubles and
// neighbours merge, so that memory stays fixed and nothing is lost but detail
// finer than a bucket.
//
// Threads: one caller at a time.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace mirevo::inspect {

struct EnvelopeColumn {
  std::int16_t minimum = 0;
  std::int16_t maximum = 0;
  bool hasAudio = false;  // false where no sample fell (a gap)
};

class Envelope {
 public:
  // The default keeps at least five buckets to each of a picture's columns
  // in 48 KiB: a stream of many recordings keeps one envelope per source of each.
  explicit Envelope(std::size_t bucketCount = 8192);

  // `samples` at `sampleRate`, the first at `startMs` from the recording's start.
  void add(double startMs, std::span<const std::int16_t> samples, std::int64_t sampleRate);

  // `count` columns of equal length over [0, spanMs). A bucket goes to the
  // column its start lies in; a column finer than the buckets may stay empty.
  std::vector<EnvelopeColumn> columns(std::size_t count, double spanMs) const;

  double bucketMs() const { return bucketMs_; }

 private:
  void widenUntilItHolds(double ms);

  std::vector<EnvelopeColumn> buckets_;
  // A power of two, so that bucket edges at whole milliseconds are exact.
  double bucketMs_ = 1.0 / 1024.0;
};

}  // namespace mirevo::inspect
