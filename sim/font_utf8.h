// UTF-8 to code points, for the texts the module draws.
#pragma once

#include <cstddef>
#include <string>

namespace sim {

// The code point at bytes[at], moving at past it; at must be below count. Malformed, overlong or surrogate
// sequences become U+FFFD, one per bad byte run; never reads past count.
char32_t NextCodepoint(const unsigned char* bytes, std::size_t count, std::size_t& at);

// Every code point of a text, one NextCodepoint after the other.
std::u32string DecodeUtf8(const unsigned char* bytes, std::size_t count);

}  // namespace sim
