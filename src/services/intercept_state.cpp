// The intercept's part of a saved state: the redirect of the current intercepted call.
#include "services/machine.h"
#include "services/machine_state.h"

namespace korvane {

void SerializeIntercept(Machine& emu, StateArchive& ar) {
  // A handler sets the redirect and the same call uses it up, so between two instructions it
  // is empty; anything else in a file would send the next intercepted call elsewhere.
  const std::string saved = ar.Text(emu.intercept.spy_redirect);
  if (!saved.empty()) ar.FailDamaged("field spy_redirect holds a routine between two calls");
  if (ar.loading() && ar.ok()) emu.intercept.spy_redirect.clear();
}

}  // namespace korvane
