// Gives every module global the value it has when the platform loads the module.
#pragma once

#include <cstddef>

void ResetModuleGlobals();

// One global of the module's list, for a host that wants to look at the module's whole state.
struct ModuleGlobal {
  const char* name;
  const void* address;
  std::size_t size;
  bool pointer;  // its value is an address, which differs from run to run
};
using ModuleGlobalVisitor = void (*)(const ModuleGlobal& global, void* context);
void VisitModuleGlobals(ModuleGlobalVisitor visit, void* context);
