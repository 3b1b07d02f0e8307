// Taking an update file apart on the host, the way the camera walks it, for `vupdate inspect`.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "package/camera_info.h"

namespace vupdate {

struct ItemView {
  std::uint64_t offset;  // of the tag
  std::uint32_t tag;
  std::vector<std::uint8_t> data;  // as many bytes as the tag's width
};

struct ChecksumView {
  std::optional<std::uint32_t> stated;  // absent when the file does not carry it
  std::uint32_t computed = 0;
  bool Match() const { return stated && *stated == computed; }
};

struct FileReport {
  std::uint64_t size = 0;
  bool headerRead = false;
  UpdateFileHeader header{};
  std::uint32_t imageLength = 0;  // imageEnd - imageStart + 1, modulo 2^32
  std::vector<ItemView> items;    // in file order, up to the failure or "DONE"
  bool doneFound = false;
  bool cutShort = false;         // the trailer lies at or past the end of the file
  std::uint64_t trailerEnd = 0;  // one past the "DONE" data
  ChecksumView image;
  ChecksumView file;
  std::vector<std::string> problems;  // why the camera would find the file malformed or damaged
  std::vector<std::string> notes;     // what is legal but worth knowing
  bool WellFormed() const { return problems.empty(); }
};

FileReport AnalyseUpdateFile(std::span<const std::uint8_t> bytes);

// A number in upper-case hexadecimal after "0x", at least `digits` digits: Hex(0x5C4D0) is "0x5C4D0".
std::string Hex(std::uint64_t value, int digits = 0);
// The digits alone, as an offset column or an escaped byte shows them.
std::string HexDigits(std::uint64_t value, int digits);

// Any bytes as printable UTF-8 text: well-formed UTF-8 of printable characters stays as it is; control
// characters, a backslash and every byte that is not part of well-formed UTF-8 become \xHH.
std::string EscapeBytes(std::string_view bytes);
std::vector<std::string> EscapeEach(const std::vector<std::string>& texts);
// The tag's four characters, anything outside printable ASCII as \xNN.
std::string TagText(std::uint32_t tag);
// A 32-byte text field up to its terminator (or its 31st byte, as the camera cuts it), escaped.
std::string FieldText(std::span<const std::uint8_t> field);

}  // namespace vupdate
