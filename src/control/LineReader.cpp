#include "control/LineReader.hpp"
#include "events/WaitForDescriptor.hpp"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace mirevo::control {
namespace {

constexpr std::string_view kLineTooLong = "The command is longer than the limit of 1 MiB.";

bool isLineEnd(char c) {
  return c == '\n' || c == '\r';
}

}  // namespace

LineReader::LineReader(int fd, std::size_t maxLineBytes, std::size_t readBytes)
    : fd_(fd), maxLineBytes_(maxLineBytes), buffer_(std::max<std::size_t>(readBytes, 1)) {}

LineReader::Result LineReader::next() {
  line_.clear();
  while (!finished_) {
    Outcome outcome;
    if (scanBuffered(outcome)) return {outcome, outcome == Outcome::line ? line_ : kLineTooLong};
    if (!refill()) break;
  }
  if (!error_.empty()) return {Outcome::readError, error_};
  // At end of input an unterminated last line still counts.
  if (!line_.empty() && !discarding_) return {Outcome::line, line_};
  discarding_ = false;
  return {Outcome::endOfInput, {}};
}

bool LineReader::scanBuffered(Outcome& outcome) {
  while (begin_ < end_) {
    if (lastWasCarriageReturn_) {
      lastWasCarriageReturn_ = false;
      if (buffer_[begin_] == '\n') {
        ++begin_;
        continue;
      }
    }
    const char* first = buffer_.data() + begin_;
    const char* last = buffer_.data() + end_;
    const char* stop = std::find_if(first, last, isLineEnd);
    const auto length = static_cast<std::size_t>(stop - first);
    if (!discarding_ && line_.size() + length > maxLineBytes_) {
      // Report at once, so a sender that never ends its line still gets an
      // answer; the rest of the line is dropped as it arrives.
      discarding_ = true;
      line_.clear();
      begin_ += length;
      outcome = Outcome::lineTooLong;
      return true;
    }
    if (!discarding_) line_.append(first, length);
    begin_ += length;
    if (stop == last) return false;

    lastWasCarriageReturn_ = *stop == '\r';
    ++begin_;
    if (discarding_) {
      discarding_ = false;
      continue;
    }
    if (line_.empty()) continue;  // a blank line
    outcome = Outcome::line;
    return true;
  }
  return false;
}

bool LineReader::refill() {
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.data(), buffer_.size());
    if (got > 0) {
      begin_ = 0;
      end_ = static_cast<std::size_t>(got);
      return true;
    }
    if (got < 0 && errno == EINTR) continue;
    // A parent may hand over a non-blocking pipe: wait as a blocking read would.
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
        events::waitForDescriptor(fd_, POLLIN))
      continue;
    finished_ = true;
    if (got < 0) {
      error_ =
          "The standard input could not be read: " + std::generic_category().message(errno) + ".";
    }
    return false;
  }
}

}  // namespace mirevo::control
