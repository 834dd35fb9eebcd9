// Error objects: a domain, an integer code and a human-readable description.
// Operations that can fail throw them; one handler (the command loop for start
// and stop, the session's failure path for conversion and stream errors) turns
// the description into the `message` of a `failed` event.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace mirevo::platform {

class Error : public std::exception {
 public:
  Error(std::string domain, std::int64_t code, std::string description);

  const std::string& domain() const noexcept { return domain_; }
  std::int64_t code() const noexcept { return code_; }
  // The text that reaches the parent.
  const std::string& localizedDescription() const noexcept { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  std::string domain_;
  std::int64_t code_;
  std::string description_;
};

// The domain of errors that carry an OS status as their code.
inline constexpr const char* kOSStatusErrorDomain = "NSOSStatusErrorDomain";

// An error for a failed OS status: the status, sign-extended, is the code, and
// the description names it.
Error osStatusError(std::int32_t status);

}  // namespace mirevo::platform
