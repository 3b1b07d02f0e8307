// Faces found with fontconfig and rendered with FreeType; only in builds with FreeType.
#pragma once

#include <memory>

#include "sim/font.h"

namespace sim {

// Null when fontconfig finds no usable face for the pattern. needJapanese: the face must cover kana.
std::unique_ptr<Face> LoadSystemFace(const char* pattern, bool needJapanese, int size);

}  // namespace sim
