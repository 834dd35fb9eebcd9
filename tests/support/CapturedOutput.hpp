// Captures what the emitter writes, for the life of the object, in an
// anonymous file, so tests can read back the exact lines.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace mirevo::testing {

class CapturedOutput {
 public:
  CapturedOutput();
  ~CapturedOutput();
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  // Everything written so far, byte for byte.
  std::string text() const;
  // The lines written so far, each without its line feed.
  std::vector<std::string> lines() const;
  // The lines parsed as JSON.
  std::vector<nlohmann::json> events() const;
  // The `type` of every event, in order.
  std::vector<std::string> types() const;
  // Forgets what was written so far.
  void clear();
  int fd() const { return fd_; }

 private:
  int fd_;
  int previous_;
};

}  // namespace mirevo::testing
