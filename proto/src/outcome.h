// How a tab that a client waited on ended.
#pragma once

#include <optional>
#include <string_view>

namespace elmpad {

enum class Outcome {
  kDone,       // the user finished; the content is saved
  kDiscarded,  // the user explicitly discarded the session
};

/// "done" or "discarded".
std::string_view outcome_text(Outcome outcome);

/// The outcome a wire string names, if any.
[[nodiscard]] std::optional<Outcome> outcome_from_text(std::string_view text);

}  // namespace elmpad
