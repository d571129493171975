#include "outcome.h"

namespace elmpad {

std::string_view outcome_text(Outcome outcome) {
  return outcome == Outcome::kDiscarded ? "discarded" : "done";
}

std::optional<Outcome> outcome_from_text(std::string_view text) {
  if (text == "done") return Outcome::kDone;
  if (text == "discarded") return Outcome::kDiscarded;
  return std::nullopt;
}

}  // namespace elmpad
