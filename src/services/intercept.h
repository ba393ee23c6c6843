// Intercept dispatch: calls to intercepted firmware routines run native handlers.
#pragma once

#include <cstdint>
#include <string>

namespace korvane {

struct Machine;

struct InterceptState {
  std::string spy_redirect;  // SpyRedirect: a guest routine the current call goes to instead
};

// The address at which a call to `target` proceeds, or 0 when the call is skipped.
uint32_t CheckInterceptCall(Machine& emu, uint32_t target);

}  // namespace korvane
