// The host's reading of an update file: the same walk as the camera's, with every finding kept.
#include "updatefile/inspect_file.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "package/file_layout.h"
#include "package/tags.h"
#include "platform/bytes.h"
#include "updatefile/update_file.h"

namespace vupdate {

std::string HexDigits(std::uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string Hex(std::uint64_t value, int digits) {
  return "0x" + HexDigits(value, digits);
}

namespace {

// The bytes the camera sums: from `offset` for `length` bytes, or up to the end of the file.
struct Stretch {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;  // begin == end: nothing is summed
};

Stretch CameraStretch(std::uint64_t fileSize, std::uint64_t offset, std::int64_t length) {
  if (length <= 0 || offset >= fileSize) return {};
  return {offset, std::min<std::uint64_t>(fileSize, offset + static_cast<std::uint64_t>(length))};
}

std::uint32_t SumOf(std::span<const std::uint8_t> bytes, Stretch s) {
  return ByteSum(bytes.subspan(s.begin, s.end - s.begin));
}

// The file sum, taking the bytes it shares with the image from the image's sum (arithmetic modulo 2^32 makes
// taking away exact), so that each byte of a large file is read once.
std::uint32_t FileSumAround(std::span<const std::uint8_t> bytes, Stretch file, Stretch image,
                            std::uint32_t imageSum) {
  if (image.begin == image.end || image.begin >= file.end) return SumOf(bytes, file);
  std::uint32_t sum = SumOf(bytes, {0, image.begin}) + imageSum;
  if (image.end > file.end) return sum - SumOf(bytes, {file.end, image.end});
  return sum + SumOf(bytes, {image.end, file.end});
}

void ReadHeader(std::span<const std::uint8_t> bytes, FileReport& report) {
  std::uint8_t header[kFileHeaderSize];
  std::copy_n(bytes.begin(), kFileHeaderSize, header);
  report.header = DecodeFileHeader(header);
  report.headerRead = true;
}

// Returns the stretch the image sum covers.
Stretch CheckHeader(std::span<const std::uint8_t> bytes, FileReport& report) {
  const UpdateFileHeader& h = report.header;
  if (h.fileType != kTagCode)
    report.problems.push_back("file type is '" + TagText(h.fileType) + "', not 'CODE'");
  if (h.headerSize != kFileHeaderSize) {
    report.problems.push_back("header size is " + std::to_string(h.headerSize) + ", not " +
                              std::to_string(kFileHeaderSize));
  }
  const std::uint32_t stretch = h.trailerOffset - h.headerSize;
  report.image.stated = h.imageChecksum;
  const Stretch image = CameraStretch(bytes.size(), h.headerSize, static_cast<std::int32_t>(stretch));
  report.image.computed = SumOf(bytes, image);
  if (!report.image.Match()) report.problems.push_back("image checksum does not match");
  report.imageLength = h.imageEnd - h.imageStart + 1;
  if (report.imageLength == 0) {
    report.problems.push_back("image is empty (imageEnd - imageStart + 1 wraps to 0)");
  } else if (report.imageLength > kImageSizeLimit) {
    report.problems.push_back("image length " + Hex(report.imageLength) + " is not less than 0x200000");
  } else if (report.imageLength != stretch) {
    report.problems.push_back("image length " + Hex(report.imageLength) +
                              " (imageEnd - imageStart + 1) differs from " + "trailerOffset - headerSize " +
                              Hex(stretch));
  }
  return image;
}

void WalkTrailer(std::span<const std::uint8_t> bytes, FileReport& report) {
  std::uint64_t at = report.header.trailerOffset;
  if (at > kFileSeekLimit) {
    report.problems.push_back("trailer offset " + Hex(at) + " cannot be reached");
    return;
  }
  // Said first: the checksum that does not match follows from it.
  if (at >= bytes.size()) {
    report.problems.insert(
        report.problems.begin(),
        "the file is cut short: the trailer offset " + Hex(at) +
            (at == bytes.size() ? " is where the file ends, " : " lies past the end of the file, ") +
            std::to_string(bytes.size()) + " bytes");
    report.cutShort = true;
    return;
  }
  std::set<std::uint32_t> seen;
  while (at < bytes.size()) {
    if (bytes.size() - at < 4) {
      report.problems.push_back("the file ends inside a tag at " + Hex(at));
      return;
    }
    const std::uint32_t tag = vestra::LoadBE32(bytes.data() + at);
    const TrailerTag* row = FindTrailerTag(tag);
    if (row == nullptr) {
      report.problems.push_back("unknown tag '" + TagText(tag) + "' at " + Hex(at));
      return;
    }
    if (bytes.size() - at - 4 < row->width) {
      report.problems.push_back("the data of '" + TagText(tag) + "' at " + Hex(at) + " is cut short");
      return;
    }
    const auto data = bytes.subspan(at + 4, row->width);
    report.items.push_back({at, tag, {data.begin(), data.end()}});
    if (!seen.insert(tag).second)
      report.notes.push_back("'" + TagText(tag) + "' given again; the later value counts");
    if (row->text != nullptr && std::find(data.begin(), data.end(), 0) == data.end()) {
      report.notes.push_back("'" + TagText(tag) + "' text has no terminator; the camera cuts it at 31 bytes");
    }
    at += 4 + row->width;
    if (tag == kTagDone) {
      report.doneFound = true;
      report.trailerEnd = at;
      report.file.stated = vestra::LoadBE32(data.data());
      return;
    }
  }
  report.problems.push_back("no 'DONE' item");
}

// Items the camera needs to accept the file at all, whatever the camera.
void NoteMissingItems(FileReport& report) {
  constexpr std::pair<std::uint32_t, const char*> kNeeded[] = {
      {kTagInstaller, "'INSV' is missing: every camera refuses this file"},
      {kTagVendor, "'vdid' is missing: every camera refuses this file"},
      {kTagProduct, "'ptid' is missing: every camera refuses this file"},
      {kTagSerialMax, "'SNMX' is missing: only cameras with serial number 0 accept this file"},
  };
  for (const auto& needed : kNeeded) {
    const std::uint32_t tag = needed.first;
    const bool present = std::any_of(report.items.begin(), report.items.end(),
                                     [tag](const ItemView& i) { return i.tag == tag; });
    if (!present) report.notes.push_back(needed.second);
  }
}

}  // namespace

namespace {

void AppendEscaped(std::string& text, std::uint8_t c) {
  text += "\\x" + HexDigits(c, 2);
}

// The length of the well-formed UTF-8 sequence of a printable character at the start of `bytes`, 0 if none.
std::size_t PrintableSequence(std::string_view bytes) {
  const auto b = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
  const std::uint8_t lead = b(0);
  if (lead < 0x80) return lead >= 0x20 && lead != 0x7F && lead != '\\' ? 1 : 0;
  std::size_t length = 0;
  std::uint8_t low = 0x80,
               high = 0xBF;  // the second byte's range, tighter where overlongs or surrogates hide
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    if (lead == 0xC2 && bytes.size() > 1 && b(1) < 0xA0) return 0;  // C1 controls
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() < length || b(1) < low || b(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (b(i) < 0x80 || b(i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string EscapeBytes(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  while (!bytes.empty()) {
    const std::size_t n = PrintableSequence(bytes);
    if (n == 0) {
      AppendEscaped(text, static_cast<std::uint8_t>(bytes.front()));
      bytes.remove_prefix(1);
    } else {
      text.append(bytes.substr(0, n));
      bytes.remove_prefix(n);
    }
  }
  return text;
}

std::vector<std::string> EscapeEach(const std::vector<std::string>& texts) {
  std::vector<std::string> out;
  out.reserve(texts.size());
  for (const std::string& text : texts) out.push_back(EscapeBytes(text));
  return out;
}

std::string TagText(std::uint32_t tag) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto c = static_cast<std::uint8_t>(tag >> shift);
    if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      AppendEscaped(text, c);
    }
  }
  return text;
}

std::string FieldText(std::span<const std::uint8_t> field) {
  std::size_t length = 0;
  while (length + 1 < field.size() && field[length] != 0) ++length;
  return EscapeBytes({reinterpret_cast<const char*>(field.data()), length});
}

FileReport AnalyseUpdateFile(std::span<const std::uint8_t> bytes) {
  FileReport report;
  report.size = bytes.size();
  if (bytes.size() < kFileHeaderSize) {
    report.problems.push_back("the file has " + std::to_string(bytes.size()) +
                              " bytes, fewer than the 64 of a header");
    return report;
  }
  ReadHeader(bytes, report);
  const Stretch image = CheckHeader(bytes, report);
  WalkTrailer(bytes, report);
  if (bytes.size() > kFileSeekLimit)
    report.problems.push_back("the file is too large for the camera to size");
  report.file.computed =
      FileSumAround(bytes, CameraStretch(bytes.size(), 0, static_cast<std::int64_t>(bytes.size()) - 4), image,
                    report.image.computed);
  if (report.doneFound && !report.file.Match()) report.problems.push_back("file checksum does not match");
  if (report.doneFound && report.trailerEnd < bytes.size()) {
    report.notes.push_back(
        std::to_string(bytes.size() - report.trailerEnd) +
        " bytes follow the 'DONE' item; the camera ignores them but the file checksum covers them");
  }
  // Items of a trailer the file does not reach are not missing, only cut off.
  if (!report.cutShort) NoteMissingItems(report);
  return report;
}

}  // namespace vupdate
