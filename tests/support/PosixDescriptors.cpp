#include "PosixDescriptors.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#if defined(__APPLE__)
#include <libproc.h>
#include <sys/proc_info.h>
#endif

namespace mirevo::testing {
namespace {

bool addStatusFlags(int fd, int flags) {
  const int current = ::fcntl(fd, F_GETFL);
  return current >= 0 && ::fcntl(fd, F_SETFL, current | flags) == 0;
}

bool setCloseOnExec(int fd) {
  return ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

}  // namespace

int anonymousFile() {
  std::string pattern = (std::filesystem::temp_directory_path() / "mirevo-test-XXXXXX").string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return -1;
  ::unlink(pattern.c_str());
  if (!setCloseOnExec(fd)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Another thread may spawn a process between pipe() and fcntl(): the tests
// spawn from one thread at a time, so no descriptor leaks into a child.
bool makePipe(int fds[2], bool nonBlocking) {
  if (::pipe(fds) != 0) return false;
  for (int i = 0; i < 2; ++i) {
    if (!setCloseOnExec(fds[i]) || (nonBlocking && !addStatusFlags(fds[i], O_NONBLOCK))) {
      ::close(fds[0]);
      ::close(fds[1]);
      return false;
    }
  }
  return true;
}

std::optional<std::string> descriptorPath(pid_t pid, int fd) {
#if defined(__APPLE__)
  // fcntl(F_GETPATH) reads only this process's descriptors; libproc reads
  // another's.
  vnode_fdinfowithpath info{};
  if (::proc_pidfdinfo(pid, fd, PROC_PIDFDVNODEPATHINFO, &info, PROC_PIDFDVNODEPATHINFO_SIZE) !=
      PROC_PIDFDVNODEPATHINFO_SIZE) {
    return std::nullopt;
  }
  return std::string(info.pvip.vip_path);
#else
  std::error_code error;
  const auto target = std::filesystem::read_symlink(
      "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd), error);
  if (error) return std::nullopt;
  return target.string();
#endif
}

}  // namespace mirevo::testing
