// Commands for the command loop as an anonymous file that holds them all,
// read from its start: the loop reads it to its end as it would a closed pipe.
//
// Threads: the test's thread.
#pragma once

#include <sys/types.h>

#include <string_view>

namespace mirevo::testing {

class CommandInput {
 public:
  // Throws std::runtime_error when the file cannot be made.
  explicit CommandInput(std::string_view bytes);
  ~CommandInput();
  CommandInput(const CommandInput&) = delete;
  CommandInput& operator=(const CommandInput&) = delete;

  int fd() const { return fd_; }
  // How far the reader has read.
  off_t offset() const;

 private:
  int fd_;
};

}  // namespace mirevo::testing
