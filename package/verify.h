// Whether the update files are whole and fit this camera.
#pragma once

#include <cstdint>

std::int16_t VerifyInstallerFiles();
