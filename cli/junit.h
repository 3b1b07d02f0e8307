// JUnit XML, the report format CI systems read: release gates write one test case per camera, per cut class.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vupdate {

struct JunitCase {
  std::string name;
  std::string classname;
  std::optional<std::string> failure;  // the message of a failing case
  std::string output;                  // system-out: what a reader needs to see the case's outcome
  double seconds = 0;
};

std::string JunitXml(std::string_view suite, std::span<const JunitCase> cases);

// Writes the report atomically, telling `temporary` the name it is made under first; returns an error text,
// or nullopt.
std::optional<std::string> WriteJunit(
    const std::filesystem::path& file, std::string_view suite, std::span<const JunitCase> cases,
    const std::function<void(const std::filesystem::path&)>& temporary = {});

}  // namespace vupdate
