// The framing of one event line, checked on its raw text: compact JSON (no
// whitespace between tokens), every `/` inside strings escaped as `\/`, and
// object keys in ascending byte order at every level.
//
// Threads: any; no shared state.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mirevo::inspect {

// A description of the first framing fault in `line` (without its line feed),
// or nothing when the text is compact and every solidus is escaped.
std::optional<std::string> findFramingProblem(std::string_view line);

// A description of the first key that does not strictly ascend after the one
// before it in its object (byte order; a repeated key included), or nothing.
std::optional<std::string> findKeyOrderProblem(std::string_view line);

}  // namespace mirevo::inspect
