#include "CapturedOutput.hpp"

#include <unistd.h>

#include <stdexcept>

#include "PosixDescriptors.hpp"
#include "events/Output.hpp"

namespace mirevo::testing {

CapturedOutput::CapturedOutput() : fd_(anonymousFile()) {
  if (fd_ < 0) throw std::runtime_error("no file to capture the output in");
  previous_ = Output::redirectForTesting(fd_);
}

CapturedOutput::~CapturedOutput() {
  Output::redirectForTesting(previous_);
  ::close(fd_);
}

std::string CapturedOutput::text() const {
  std::string all;
  char chunk[65536];
  for (off_t offset = 0;;) {
    const ssize_t got = ::pread(fd_, chunk, sizeof chunk, offset);
    if (got <= 0) break;
    all.append(chunk, static_cast<std::size_t>(got));
    offset += got;
  }
  return all;
}

std::vector<std::string> CapturedOutput::lines() const {
  std::vector<std::string> result;
  const std::string all = text();
  std::size_t begin = 0;
  for (std::size_t end; (end = all.find('\n', begin)) != std::string::npos; begin = end + 1) {
    result.push_back(all.substr(begin, end - begin));
  }
  if (begin < all.size()) result.push_back(all.substr(begin));  // an unterminated tail shows up
  return result;
}

std::vector<nlohmann::json> CapturedOutput::events() const {
  std::vector<nlohmann::json> result;
  for (const auto& line : lines()) result.push_back(nlohmann::json::parse(line));
  return result;
}

std::vector<std::string> CapturedOutput::types() const {
  std::vector<std::string> result;
  for (const auto& event : events()) result.push_back(event.value("type", std::string()));
  return result;
}

void CapturedOutput::clear() {
  if (::ftruncate(fd_, 0) != 0) throw std::runtime_error("ftruncate failed");
  ::lseek(fd_, 0, SEEK_SET);
}

}  // namespace mirevo::testing
