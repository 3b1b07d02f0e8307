// Numbers as the tools take them from a command line or a request: decimal or 0x hexadecimal, the whole text,
// within the type's range.
#pragma once

#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>

namespace vupdate {

template <typename T>
std::optional<T> ParseNumber(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace vupdate
