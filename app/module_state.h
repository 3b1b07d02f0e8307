// Gives every module global the value it has when the platform loads the module.
#pragma once

void ResetModuleGlobals();
