// Cuts a byte stream (standard input) into command lines. A line feed, a
// carriage return, or the pair CR LF ends a line, also when the pair is split
// between two reads. Blank lines are skipped; a last line without terminator
// is still delivered at end of input. Memory stays bounded: a line longer than
// the limit is reported once and its remaining bytes are dropped up to its end.
//
// Threads: one reader, used by the command loop on the main thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mirevo::control {

class LineReader {
 public:
  static constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;
  static constexpr std::size_t kReadBytes = std::size_t{64} << 10;

  enum class Outcome { line, lineTooLong, endOfInput, readError };

  struct Result {
    Outcome outcome;
    // The line without terminator (valid until the next call), or the
    // human-readable description of a read error or an oversized line.
    std::string_view text;
  };

  // Reads `fd` with read(2), `readBytes` at most at a time. The descriptor
  // stays owned by the caller.
  explicit LineReader(int fd, std::size_t maxLineBytes = kMaxLineBytes,
                      std::size_t readBytes = kReadBytes);

  // Blocks until the next line, the end of input or a read error. After the
  // end of input or an error, every further call reports the same again
  // without reading.
  Result next();

 private:
  // Consumes buffered bytes until a line is complete; true when one is.
  bool scanBuffered(Outcome& outcome);
  // Reads more bytes into the buffer; false at end of input or on error.
  bool refill();

  int fd_;
  std::size_t maxLineBytes_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // first unconsumed byte of buffer_
  std::size_t end_ = 0;    // one past the last byte read into buffer_
  std::string line_;
  bool lastWasCarriageReturn_ = false;  // a following LF belongs to that CR
  bool discarding_ = false;             // inside an oversized line
  bool finished_ = false;
  std::string error_;
};

}  // namespace mirevo::control
