// Profile edits of vupdate serve, applied to the TOML text so that inspect reads the same camera.
#include "cli/serve_profile.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include <toml++/toml.h>

#include "cli/numbers.h"
#include "sim/profile_toml.h"

namespace vupdate::serve {

std::string ReadTextFile(const std::filesystem::path& path, std::size_t max) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read '" + path.string() + "'");
  std::string text(max + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > max) throw std::runtime_error("'" + path.string() + "' is too large");
  return text;
}

ProfileSlot::ProfileSlot(harness::LiveCamera& camera, std::string name, std::string text)
    : camera_(camera), name_(std::move(name)), text_(std::move(text)) {}

std::pair<std::string, std::string> ProfileSlot::NameAndText() const {
  std::lock_guard lock(mutex_);
  return {name_, text_};
}

std::string ProfileSlot::Use(const std::string& name, const std::string& text) {
  try {
    sim::Profile profile = sim::ParseProfile(text, name);
    std::lock_guard lock(mutex_);
    camera_.SetProfile(std::move(profile));
    name_ = name;
    text_ = text;
    return {};
  } catch (const std::exception& e) {
    return e.what();
  }
}

std::string ProfileSlot::Edit(const std::multimap<std::string, std::string>& fields) {
  const auto [name, text] = NameAndText();
  toml::table table;
  try {
    table = toml::parse(text, name);
  } catch (const std::exception& e) {
    return e.what();
  }
  // What the camera's platform can report: a state code of 8 bits, and 32-bit region and serial numbers.
  struct Field {
    const char* key;
    std::int64_t most;
    const char* what;
  };
  constexpr Field kFields[] = {
      {"region", 0xFFFFFFFF, "The region is a number of 0 to 4294967295 (0xFFFFFFFF)."},
      {"serial", 0xFFFFFFFF, "The serial number is a number of 0 to 4294967295 (0xFFFFFFFF)."},
      {"battery", 255, "The battery state is a code of 0 to 255; 7 is enough for an update."},
  };
  for (const Field& f : kFields) {
    const std::string_view key = f.key;
    const auto field = fields.find(f.key);
    if (field == fields.end()) continue;
    const auto value = vupdate::ParseNumber<std::int64_t>(field->second);
    if (!value || *value < 0 || *value > f.most) return f.what;
    if (key == "battery") {
      if (!table["power"].is_table()) table.insert_or_assign("power", toml::table{});
      table["power"].as_table()->insert_or_assign("battery", *value);
      table["power"].as_table()->insert_or_assign("external", false);
    } else {
      table.insert_or_assign(key, *value);
    }
  }
  std::ostringstream out;
  out << table << "\n";
  return Use(name.ends_with(" (edited)") ? name : name + " (edited)", out.str());
}

}  // namespace vupdate::serve
