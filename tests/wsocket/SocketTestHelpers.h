// Small helpers shared by the socket layer's tests.
#pragma once

#include <functional>
#include <string>

#include "WSocket.h"

namespace sockettest {

inline const char* StateName(TSocketState s) {
  static const char* names[] = {"invalid",   "opened",    "bound",     "connecting",
                                "connected", "accepting", "listening", "closed"};
  return names[s];
}

// The text of the ESocketException that f raises, or "(no exception)".
inline std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ESocketException& e) {
    return e.what();
  }
  return "(no exception)";
}

}  // namespace sockettest
