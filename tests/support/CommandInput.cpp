#include "CommandInput.hpp"

#include <unistd.h>

#include <stdexcept>

#include "PosixDescriptors.hpp"

namespace mirevo::testing {

CommandInput::CommandInput(std::string_view bytes) : fd_(anonymousFile()) {
  if (fd_ < 0) throw std::runtime_error("no file to hold the commands");
  for (std::string_view rest = bytes; !rest.empty();) {
    const ssize_t written = ::write(fd_, rest.data(), rest.size());
    if (written <= 0) {
      ::close(fd_);
      throw std::runtime_error("writing the commands failed");
    }
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
  ::lseek(fd_, 0, SEEK_SET);
}

CommandInput::~CommandInput() {
  ::close(fd_);
}

off_t CommandInput::offset() const {
  return ::lseek(fd_, 0, SEEK_CUR);
}

}  // namespace mirevo::testing
