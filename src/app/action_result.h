// The outcome of a user's action that may carry a message for the user.
#pragma once

#include <string>

struct CActionResult {
  bool ok = true;
  std::string message;
};
