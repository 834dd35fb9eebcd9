#include "LineFormat.hpp"

#include <vector>

#include <nlohmann/json.hpp>

namespace mirevo::inspect {
namespace {

bool isJsonWhitespace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string describePosition(std::size_t offset) {
  return " at column " + std::to_string(offset + 1);
}

// Follows the parser's keys object by object. Duplicate keys count as out of
// order: a parsed object would keep only one of them.
class KeyOrderCheck : public nlohmann::json_sax<nlohmann::json> {
 public:
  std::optional<std::string> problem;

  bool key(string_t& key) override {
    std::optional<std::string>& previous = lastKeys_.back();
    if (previous && !(*previous < key) && !problem)
      problem = "keys are not in ascending order: \"" + key + "\" after \"" + *previous + "\"";
    previous = key;
    return true;
  }
  bool start_object(std::size_t) override {
    lastKeys_.emplace_back();
    return true;
  }
  bool end_object() override {
    lastKeys_.pop_back();
    return true;
  }
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  std::vector<std::optional<std::string>> lastKeys_;
};

}  // namespace

std::optional<std::string> findFramingProblem(std::string_view line) {
  if (!line.empty() && line.back() == '\r') return "ends in a carriage return";
  bool inString = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (!inString) {
      if (c == '"') inString = true;
      if (isJsonWhitespace(c)) return "is not compact JSON: whitespace" + describePosition(i);
      continue;
    }
    if (c == '\\') {
      ++i;  // the escaped character, whatever it is, is not the string's end
    } else if (c == '"') {
      inString = false;
    } else if (c == '/') {
      return "has an unescaped '/'" + describePosition(i);
    }
  }
  return std::nullopt;
}

std::optional<std::string> findKeyOrderProblem(std::string_view line) {
  KeyOrderCheck check;
  nlohmann::json::sax_parse(line, &check, nlohmann::json::input_format_t::json, false);
  return check.problem;
}

}  // namespace mirevo::inspect
