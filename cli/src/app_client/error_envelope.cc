#include "app_client/error_envelope.h"

namespace elmpad {

json error_envelope(const RunErr& err) {
  return json{{"error", {{"code", err.code}, {"params", {{"detail", err.message}}}}}, {"ok", false}};
}

}  // namespace elmpad
