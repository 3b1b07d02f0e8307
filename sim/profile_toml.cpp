// Reads camera profiles with toml++.
#include "sim/profile_toml.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>

#include <toml++/toml.h>

#include "platform/hardware.h"

namespace sim {

namespace {

constexpr std::size_t kParameterTextMax = 31;  // what fits a parameter record

class Reader {
 public:
  Reader(const std::string& source, Profile& profile) : source_(source), p_(profile) {}

  void Table(const toml::table& table, const std::string& prefix) {
    for (const auto& [k, node] : table) {
      const std::string key = prefix + std::string(k.str());
      if (key == "power" || key == "platform" || key == "flash" || key == "faults" || key == "faults.retry") {
        if (!node.is_table()) Fail(key, "must be a table");
        if (key == "faults.retry" && !p_.retry) p_.retry.emplace();
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
      const auto offset = static_cast<std::uint32_t>(Integer(key, (*pair)[0], 0, vestra::kFlashSize - 1));
      out.emplace_back(offset, Word(key, (*pair)[1]));
    }
    return out;
  }

  void Key(const std::string& key, const toml::node& node) {
    // [faults.retry] takes the keys of [faults], for the power-up after a cut.
    static constexpr std::string_view kRetry = "faults.retry.";
    const bool retry = key.starts_with(kRetry);
    FaultProfile& faults = retry ? *p_.retry : p_.faults;
    const std::string lookup = retry ? "faults." + key.substr(kRetry.size()) : key;
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
        {"faults.power_cut", [&](const toml::node& n) { faults.powerCut = CutPoint(key, n); }},
        {"faults.card_read_error",
         [&](const toml::node& n) { faults.cardReadErrors = CardBytes(key, n, false); }},
        {"faults.card_flips", [&](const toml::node& n) { faults.cardFlips = CardBytes(key, n, true); }},
        {"faults.card_pulled_at", [&](const toml::node& n) { faults.cardPulledAtNs = Seconds(key, n); }},
        {"faults.card_read_only_at", [&](const toml::node& n) { faults.cardReadOnlyAtNs = Seconds(key, n); }},
        {"faults.card_full_after",
         [&](const toml::node& n) {
           faults.cardFullAfter = static_cast<std::uint64_t>(Integer(key, n, 0, 1LL << 40));
         }},
        {"faults.eeprom_write_fail", [&](const toml::node& n) { faults.eepromWriteFail = Bool(key, n); }},
        {"faults.eeprom_flush_fail", [&](const toml::node& n) { faults.eepromFlushFail = Bool(key, n); }},
        {"faults.battery_at", [&](const toml::node& n) { faults.batteryAt = BatterySteps(key, n); }},
        {"faults.unreadable_params",
         [&](const toml::node& n) { UnreadableParams(key, n, faults.unreadableParams); }},
        {"faults.read_flips", [&](const toml::node& n) { faults.readFlips = Masks(key, n); }},
    };
    for (const auto& [name, handle] : handlers) {
      if (name == lookup) {
        handle(node);
        return;
      }
    }
    throw ProfileError(source_ + ": unknown key '" + key + "'");
  }

  std::uint64_t Seconds(const std::string& key, const toml::node& node) const {
    return static_cast<std::uint64_t>(std::llround(Number(key, node) * 1e9));
  }

  PowerCutPoint CutPoint(const std::string& key, const toml::node& node) const {
    const auto v = node.value_exact<std::string>();
    if (!v) Fail(key, "must be a string such as \"bus_op:1200\", \"time:12.5\" or \"during_erase\"");
    const std::string& text = *v;
    const std::size_t colon = text.find(':');
    const std::string name = text.substr(0, colon);
    const std::string arg = colon == std::string::npos ? "" : text.substr(colon + 1);
    using At = PowerCutPoint::At;
    const std::pair<std::string_view, At> named[] = {
        {"bus_op", At::kBusOp},
        {"time", At::kTime},
        {"before_erase", At::kBeforeErase},
        {"during_erase", At::kDuringErase},
        {"word", At::kWord},
        {"after_last_word", At::kAfterLastWord},
        {"before_delete", At::kBeforeDelete},
        {"between_deletes", At::kBetweenDeletes},
        {"log_write", At::kLogWrite},
    };
    PowerCutPoint point;
    for (auto [n, at] : named) {
      if (n == name) point.at = at;
    }
    const bool numbered = point.at == At::kBusOp || point.at == At::kWord || point.at == At::kTime;
    if (point.at == At::kNone || (numbered && arg.empty()) ||
        (!numbered && point.at != At::kLogWrite && !arg.empty())) {
      Fail(key, "names no cut point: '" + text + "'");
    }
    if (arg.empty()) {
      point.value = 1;
      return point;
    }
    char* end = nullptr;
    const double number = std::strtod(arg.c_str(), &end);
    if (end == arg.c_str() || *end != 0 || !(number >= 0) || number > 1e15 ||
        (point.at != At::kTime && (number < 1 || number != std::floor(number)))) {
      Fail(key, "has a bad number in '" + text + "'");
    }
    point.value = point.at == At::kTime ? static_cast<std::uint64_t>(std::llround(number * 1e9))
                                        : static_cast<std::uint64_t>(number);
    return point;
  }

  std::vector<CardByteFault> CardBytes(const std::string& key, const toml::node& node, bool flip) const {
    std::vector<CardByteFault> out;
    for (const auto& item : Array(key, node)) {
      const toml::table* t = item.as_table();
      if (t == nullptr) Fail(key, "must be an array of tables like { file = \"SYSTEM/X\", offset = 0 }");
      CardByteFault f;
      bool haveFile = false;
      for (const auto& [k, v] : *t) {
        const std::string name(k.str());
        if (name == "file" && v.value_exact<std::string>()) {
          f.file = *v.value_exact<std::string>();
          haveFile = true;
        } else if (name == "offset") {
          f.offset = Word(key, v);
        } else if (flip && name == "mask") {
          f.mask = static_cast<std::uint8_t>(Integer(key, v, 1, 255));
        } else if (name == "from_read") {
          f.fromRead = static_cast<std::uint32_t>(Integer(key, v, 1, 0xFFFFFFFF));
        } else if (!flip && name == "times") {
          f.times = static_cast<std::uint32_t>(Integer(key, v, 1, 0xFFFFFFFF));
        } else {
          Fail(key, "has an unknown or bad field '" + name + "'");
        }
      }
      if (!haveFile || (flip && f.mask == 0))
        Fail(key, flip ? "needs file, offset and mask" : "needs file and offset");
      out.push_back(f);
    }
    return out;
  }

  std::vector<std::pair<std::uint64_t, std::uint8_t>> BatterySteps(const std::string& key,
                                                                   const toml::node& node) const {
    std::vector<std::pair<std::uint64_t, std::uint8_t>> out;
    for (const auto& item : Array(key, node)) {
      const toml::array* pair = item.as_array();
      if (pair == nullptr || pair->size() != 2) Fail(key, "must be an array of [seconds, state] pairs");
      out.emplace_back(Seconds(key, (*pair)[0]), static_cast<std::uint8_t>(Integer(key, (*pair)[1], 0, 255)));
    }
    return out;
  }

  void UnreadableParams(const std::string& key, const toml::node& node, std::vector<std::string>& out) const {
    for (const auto& item : Array(key, node)) {
      const auto name = item.value_exact<std::string>();
      if (!name || std::find(std::begin(kParameterNames), std::end(kParameterNames), *name) ==
                       std::end(kParameterNames)) {
        Fail(key, "names vdid, ptid, sern, fwrv, ccsv, rgnc or rgnc_capability only");
      }
      out.push_back(*name);
    }
  }

 private:
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
  Reader reader(source, profile);
  reader.Table(table, "");
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
