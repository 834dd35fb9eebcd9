#include "LineFormat.hpp"

namespace mirevo::inspect {
namespace {

bool isJsonWhitespace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string describePosition(std::size_t offset) {
  return " at column " + std::to_string(offset + 1);
}

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

std::optional<std::string> findKeyOrderProblem(const nlohmann::ordered_json& value) {
  if (value.is_array()) {
    for (const auto& element : value)
      if (auto problem = findKeyOrderProblem(element)) return problem;
    return std::nullopt;
  }
  if (!value.is_object()) return std::nullopt;
  const std::string* previous = nullptr;
  for (auto member = value.begin(); member != value.end(); ++member) {
    const std::string& key = member.key();
    if (previous != nullptr && !(*previous < key))
      return "keys are not in ascending order: \"" + key + "\" after \"" + *previous + "\"";
    previous = &key;
    if (auto problem = findKeyOrderProblem(*member)) return problem;
  }
  return std::nullopt;
}

}  // namespace mirevo::inspect
