#include "cli/junit.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "updatefile/update_file.h"

namespace vupdate {
namespace {

// XML 1.0 admits no control characters but tab, newline and return: others become U+FFFD.
void AppendEscaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
          out += "\xEF\xBF\xBD";
        } else {
          out += c;
        }
    }
  }
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

}  // namespace

std::string JunitXml(std::string_view suite, std::span<const JunitCase> cases) {
  std::size_t failures = 0;
  double total = 0;
  for (const JunitCase& c : cases) {
    failures += c.failure.has_value();
    total += c.seconds;
  }
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n<testsuite name=\"";
  AppendEscaped(out, suite);
  out += "\" tests=\"" + std::to_string(cases.size()) + "\" failures=\"" + std::to_string(failures) +
         "\" errors=\"0\" time=\"" + Seconds(total) + "\">\n";
  for (const JunitCase& c : cases) {
    out += "  <testcase classname=\"";
    AppendEscaped(out, c.classname);
    out += "\" name=\"";
    AppendEscaped(out, c.name);
    out += "\" time=\"" + Seconds(c.seconds) + "\">\n";
    if (c.failure) {
      out += "    <failure message=\"";
      AppendEscaped(out, *c.failure);
      out += "\"/>\n";
    }
    if (!c.output.empty()) {
      out += "    <system-out>";
      AppendEscaped(out, c.output);
      out += "</system-out>\n";
    }
    out += "  </testcase>\n";
  }
  out += "</testsuite>\n</testsuites>\n";
  return out;
}

std::optional<std::string> WriteJunit(const std::filesystem::path& file, std::string_view suite,
                                      std::span<const JunitCase> cases,
                                      const std::function<void(const std::filesystem::path&)>& temporary) {
  const std::string xml = JunitXml(suite, cases);
  return WriteFileAtomically(file, std::span(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()),
                             temporary);
}

}  // namespace vupdate
