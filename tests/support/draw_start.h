// The module started as far as its first panel draw, on the current camera, through the start-up that entry
// runs. For drawing tests and benchmarks that do not want the start-up checks.
#pragma once

#include "app/entry.h"
#include "app/module_state.h"

namespace vestra_test {

inline void StartModuleForDrawing() {
  ResetModuleGlobals();
  StartUpToPanels();
}

}  // namespace vestra_test
