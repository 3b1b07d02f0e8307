#include "cli/release_check.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "updatefile/inspect_file.h"

namespace vupdate::release {

namespace {

bool Names(const Expectation& e, const std::string& profile) {
  const std::filesystem::path path(profile);
  return e.name == profile || e.name == path.filename().string() ||
         (path.extension() == ".toml" && e.name == path.stem().string());
}

std::string Words() {
  std::string words;
  for (const std::string_view v : kVerdicts) words += (words.empty() ? "" : ", ") + std::string(v);
  return words;
}

std::string Contradiction(const std::string& said, const Expectation& earlier) {
  return said + " contradicts " + earlier.from + " '" + vupdate::EscapeBytes(earlier.name) + "=" +
         earlier.verdict + "'";
}

}  // namespace

paths::Problem Parse(std::string_view text, const std::string& from, std::vector<Expectation>* out) {
  const auto equals = text.rfind('=');
  const std::string said = from + " '" + vupdate::EscapeBytes(text) + "'";
  if (equals == std::string_view::npos || equals == 0) {
    return said + ": say PROFILE=VERDICT (a profile's file name, or * for every other)";
  }
  Expectation e{std::string(text.substr(0, equals)), std::string(text.substr(equals + 1)), from};
  if (std::find(std::begin(kVerdicts), std::end(kVerdicts), e.verdict) == std::end(kVerdicts)) {
    return said + ": the verdict is one of " + Words();
  }
  for (const Expectation& earlier : *out) {
    if (earlier.name == e.name && earlier.verdict != e.verdict) {
      return Contradiction(said, earlier);
    }
  }
  out->push_back(std::move(e));
  return std::nullopt;
}

paths::Problem ReadFile(const std::string& path, std::vector<Expectation>* out) {
  if (auto problem = paths::CheckInputFile("--expect-file", path)) return problem;
  std::ifstream in(path);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    const auto last = line.find_last_not_of(" \t\r");
    if (auto problem = Parse(std::string_view(line).substr(first, last - first + 1),
                             paths::Shown(path) + " line " + std::to_string(number), out)) {
      return problem;
    }
  }
  if (in.bad()) return "--expect-file " + paths::Shown(path) + " cannot be read";
  return std::nullopt;
}

paths::Problem Assign(const std::vector<std::string>& profiles, const std::vector<Expectation>& expectations,
                      std::vector<std::string>* expected) {
  for (const Expectation& e : expectations) {
    if (e.name == "*") continue;
    if (std::none_of(profiles.begin(), profiles.end(), [&](const std::string& p) { return Names(e, p); })) {
      return e.from + " names '" + vupdate::EscapeBytes(e.name) + "', which is none of the cameras";
    }
  }
  const auto every = std::find_if(expectations.begin(), expectations.end(),
                                  [](const Expectation& e) { return e.name == "*"; });
  for (const std::string& profile : profiles) {
    const auto named = std::find_if(expectations.begin(), expectations.end(),
                                    [&](const Expectation& e) { return e.name != "*" && Names(e, profile); });
    if (named != expectations.end()) {
      expected->push_back(named->verdict);
    } else if (every != expectations.end()) {
      expected->push_back(every->verdict);
    } else {
      return "nothing is expected of the camera " + paths::Shown(profile) + "; name it, or give *=VERDICT";
    }
  }
  return std::nullopt;
}

}  // namespace vupdate::release
