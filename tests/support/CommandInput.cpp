#include "CommandInput.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <stdexcept>

namespace mirevo::testing {

CommandInput::CommandInput(std::string_view bytes) : fd_(::memfd_create("commands", MFD_CLOEXEC)) {
  if (fd_ < 0) throw std::runtime_error("memfd_create failed");
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
