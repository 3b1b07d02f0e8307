// UTF-8 to code points, for the texts the module draws.
#pragma once

#include <cstddef>
#include <string>

namespace sim {

// Malformed, overlong or surrogate sequences become U+FFFD, one per bad byte run; never reads past count.
std::u32string DecodeUtf8(const unsigned char* bytes, std::size_t count);

}  // namespace sim
