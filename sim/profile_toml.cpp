// Reads camera profiles with toml++.
#include "sim/profile_toml.h"

#include <fstream>
#include <functional>
#include <limits>
#include <sstream>

#include <toml++/toml.h>

namespace sim {

namespace {

constexpr std::uint32_t kFlashBytes = 0x200000;
constexpr std::size_t kParameterTextMax = 31;  // what fits a parameter record

class Reader {
 public:
  Reader(const std::string& source, Profile& profile) : source_(source), p_(profile) {}

  void Table(const toml::table& table, const std::string& prefix) {
    for (const auto& [k, node] : table) {
      const std::string key = prefix + std::string(k.str());
      if (key == "power" || key == "platform" || key == "flash") {
        if (!node.is_table()) Fail(key, "must be a table");
        Table(*node.as_table(), key + ".");
        continue;
      }
      Key(key, node);
    }
  }

 private:
  [[noreturn]] void Fail(const std::string& key, const std::string& why) const {
    throw ProfileError(source_ + ": key '" + key + "' " + why);
  }

  std::int64_t Integer(const std::string& key, const toml::node& node, std::int64_t lo,
                       std::int64_t hi) const {
    const auto v = node.value_exact<std::int64_t>();
    if (!v) Fail(key, "must be an integer");
    if (*v < lo || *v > hi)
      Fail(key, "must be an integer from " + std::to_string(lo) + " to " + std::to_string(hi));
    return *v;
  }
  std::uint32_t Word(const std::string& key, const toml::node& node) const {
    return static_cast<std::uint32_t>(Integer(key, node, 0, std::numeric_limits<std::uint32_t>::max()));
  }
  bool Bool(const std::string& key, const toml::node& node) const {
    const auto v = node.value_exact<bool>();
    if (!v) Fail(key, "must be true or false");
    return *v;
  }
  std::string Text(const std::string& key, const toml::node& node) const {
    const auto v = node.value_exact<std::string>();
    if (!v) Fail(key, "must be a string");
    if (v->size() > kParameterTextMax) Fail(key, "must be at most 31 characters long");
    return *v;
  }
  double Number(const std::string& key, const toml::node& node) const {
    std::optional<double> v = node.value_exact<double>();
    if (!v) {
      if (const auto i = node.value_exact<std::int64_t>()) v = static_cast<double>(*i);
    }
    if (!v) Fail(key, "must be a number");
    if (!(*v >= 0) || *v > 1e9) Fail(key, "must be a number from 0 to 1e9");
    return *v;
  }
  const toml::array& Array(const std::string& key, const toml::node& node) const {
    if (!node.is_array()) Fail(key, "must be an array");
    return *node.as_array();
  }
  std::vector<std::int16_t> SoundIds(const std::string& key, const toml::node& node) const {
    std::vector<std::int16_t> ids;
    for (const auto& item : Array(key, node)) {
      ids.push_back(static_cast<std::int16_t>(Integer(key, item, -32768, 32767)));
    }
    return ids;
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Masks(const std::string& key,
                                                             const toml::node& node) const {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
    for (const auto& item : Array(key, node)) {
      const toml::array* pair = item.as_array();
      if (pair == nullptr || pair->size() != 2) Fail(key, "must be an array of [offset, mask] pairs");
      const auto offset = static_cast<std::uint32_t>(Integer(key, (*pair)[0], 0, kFlashBytes - 1));
      out.emplace_back(offset, Word(key, (*pair)[1]));
    }
    return out;
  }

  void Key(const std::string& key, const toml::node& node) {
    using Handler = std::function<void(const toml::node&)>;
    const std::pair<std::string_view, Handler> handlers[] = {
        {"vendor", [&](const toml::node& n) { p_.vendor = Text(key, n); }},
        {"product", [&](const toml::node& n) { p_.product = Text(key, n); }},
        {"serial", [&](const toml::node& n) { p_.serial = Word(key, n); }},
        {"firmware", [&](const toml::node& n) { p_.firmware = Word(key, n); }},
        {"ccs", [&](const toml::node& n) { p_.ccs = Word(key, n); }},
        {"region", [&](const toml::node& n) { p_.region = Word(key, n); }},
        {"region_capability", [&](const toml::node& n) { p_.regionCapability = Word(key, n); }},
        {"shutdown_now", [&](const toml::node& n) { p_.shutdownNow = Bool(key, n); }},
        {"power.external", [&](const toml::node& n) { p_.power.external = Bool(key, n); }},
        {"power.battery",
         [&](const toml::node& n) { p_.power.battery = static_cast<std::uint8_t>(Integer(key, n, 0, 255)); }},
        {"power.lcd_on", [&](const toml::node& n) { p_.power.lcdOn = Bool(key, n); }},
        {"platform.sound_channel", [&](const toml::node& n) { p_.platform.soundChannel = Bool(key, n); }},
        {"platform.missing_sounds",
         [&](const toml::node& n) { p_.platform.missingSounds = SoundIds(key, n); }},
        {"platform.logo_icon", [&](const toml::node& n) { p_.platform.logoIcon = Bool(key, n); }},
        {"platform.drive_available", [&](const toml::node& n) { p_.platform.driveAvailable = Bool(key, n); }},
        {"flash.erase_seconds", [&](const toml::node& n) { p_.flash.eraseSeconds = Number(key, n); }},
        {"flash.word_program_us", [&](const toml::node& n) { p_.flash.wordProgramUs = Number(key, n); }},
        {"flash.never_erase", [&](const toml::node& n) { p_.flash.neverErase = Masks(key, n); }},
        {"flash.never_program", [&](const toml::node& n) { p_.flash.neverProgram = Masks(key, n); }},
        {"flash.never_ready", [&](const toml::node& n) { p_.flash.neverReady = Bool(key, n); }},
    };
    for (const auto& [name, handle] : handlers) {
      if (name == key) {
        handle(node);
        return;
      }
    }
    throw ProfileError(source_ + ": unknown key '" + key + "'");
  }

  const std::string& source_;
  Profile& p_;
};

}  // namespace

Profile ParseProfile(std::string_view text, const std::string& source) {
  toml::table table;
  try {
    table = toml::parse(text, source);
  } catch (const toml::parse_error& e) {
    std::ostringstream msg;
    msg << source << ": not valid TOML: " << e.description() << " (line " << e.source().begin.line << ")";
    throw ProfileError(msg.str());
  }
  Profile profile;
  Reader(source, profile).Table(table, "");
  return profile;
}

Profile LoadProfile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad()) throw ProfileError(file.string() + ": cannot read the camera profile");
  return ParseProfile(text.str(), file.string());
}

}  // namespace sim
