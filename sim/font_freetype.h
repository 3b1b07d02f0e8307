// Faces found with fontconfig and rendered with FreeType; only in builds with FreeType.
#pragma once

#include <memory>
#include <string>

#include "sim/font.h"

namespace sim {

// Null when fontconfig finds no usable face for the pattern. needJapanese: the face must cover kana.
std::unique_ptr<Face> LoadSystemFace(const char* pattern, bool needJapanese, int size);
// The font file LoadSystemFace would use for the pattern, or the one the system's whole fontconfig
// configuration gives; empty when there is none.
std::string SystemFontFile(const char* pattern, bool needJapanese, bool wholeConfigurationOnly);

}  // namespace sim
