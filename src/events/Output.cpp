#include "events/Output.hpp"
#include "events/WaitForDescriptor.hpp"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

namespace mirevo::Output {
namespace {

std::atomic<int> outputFd{STDOUT_FILENO};

// Created on first use, in a thread-safe way, and never destroyed: a thread
// may still emit while the process exits.
std::mutex& lineLock() {
  static auto* lock = new std::mutex;
  return *lock;
}

// Hands every byte to the OS, finishing partial writes and retrying
// interrupted ones. A parent may hand over a non-blocking pipe: a full one is
// waited on like a blocking one, so no line is cut short. A closed or failing
// output is not reported: the agent goes on, and the line is lost.
void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && events::waitForDescriptor(fd, POLLOUT))
        continue;
      return;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace

std::string serialise(const nlohmann::json& event) {
  // Strings that are not valid UTF-8 (a device name, say) are mended with
  // U+FFFD rather than losing the whole event.
  const std::string compact = event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::string line;
  line.reserve(compact.size() + compact.size() / 16 + 1);
  // A solidus can only stand inside a string, so escaping every one is exact.
  for (const char c : compact) {
    if (c == '/') line.push_back('\\');
    line.push_back(c);
  }
  line.push_back('\n');
  return line;
}

void emit(const nlohmann::json& event) {
  std::string line;
  try {
    line = serialise(event);
  } catch (const std::exception&) {
    return;
  }
  writeLine(line);
}

void failure(std::string_view message, const std::optional<std::string>& session) {
  nlohmann::json event = {{"type", "failed"}, {"message", message}};
  if (session) event["sessionId"] = *session;
  emit(event);
}

void writeLine(std::string_view line) {
  std::lock_guard<std::mutex> hold(lineLock());
  writeAll(outputFd.load(std::memory_order_relaxed), line);
}

int redirectForTesting(int fd) {
  return outputFd.exchange(fd);
}

}  // namespace mirevo::Output
