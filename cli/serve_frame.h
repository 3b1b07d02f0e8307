// How vupdate serve sends an LCD frame to the page.
#pragma once

#include <string>

#include "sim/frames.h"

namespace vupdate::serve {

// Pixels as runs, each a count less one (1 to 256) and the colour, in base64. LCD pictures are mostly flat,
// so a frame is a few kilobytes instead of three hundred.
std::string EncodeFrame(const sim::RgbImage& image);

}  // namespace vupdate::serve
