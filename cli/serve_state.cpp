// What the page is shown: the camera's state as JSON and its LCD frames, as server-sent events.
#include <algorithm>
#include <vector>

#include "cli/serve_frame.h"
#include "cli/serve_impl.h"
#include "harness/names.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace vupdate::serve {

namespace {

constexpr std::size_t kLogShown = 16 * 1024;

}  // namespace

json Server::Impl::CameraJson() const {
  const sim::Profile p = camera->profile();
  json samples = json::array();
  std::error_code ec;
  std::vector<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(options.samples, ec)) {
    if (e.path().extension() == ".toml") names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  for (auto& n : names) samples.push_back(n);
  auto opt = [](const std::optional<std::uint32_t>& v) { return v ? json(*v) : json(nullptr); };
  return {{"profile", profile->NameAndText().first},
          {"largest_card_file", kLargestUpdateFile},
          {"largest_profile", kLargestProfile},
          {"samples", samples},
          {"region", opt(p.region)},
          {"serial", opt(p.serial)},
          {"battery", p.power.battery},
          {"external_power", p.power.external}};
}

json Server::Impl::StateJson() const {
  const harness::LiveStatus s = camera->Status();
  json files = json::array();
  for (const CardFile& f : card->List())
    files.push_back({{"name", f.name}, {"size", f.size}, {"kind", f.kind}});
  const auto& c = s.flash.counters;
  return {{"on", s.on},
          {"installing", s.installing},
          {"panel", s.panel},
          {"panel_name", harness::PanelName(s.panel)},
          {"soft_keys", s.softKeys},
          {"err_code", s.errCode},
          {"err_name", harness::ErrorCodeName(s.errCode)},
          {"led", s.ledValue},
          {"led_name", harness::LedName(s.ledValue)},
          {"virtual_seconds", s.virtualSeconds},
          {"speed", s.speed},
          {"last_stop", s.lastStop},
          {"frame", s.frameIndex},
          {"flash",
           {{"state", s.flash.state},
            {"percent", s.flash.percent},
            {"erases", c.erases},
            {"blank_checks", c.blankChecks},
            {"words", c.wordsProgrammed},
            {"write_enable_violations", c.writeEnableViolations}}},
          {"card", {{"inserted", card->inserted()}, {"files", files}}},
          {"log", card->LogText(kLogShown)},
          {"camera", CameraJson()}};
}

std::string Server::Impl::FrameMessage(std::uint64_t* seen) {
  std::lock_guard lock(frameMutex);
  sim::RgbImage image;
  const std::uint64_t index = camera->Frame(nullptr);
  if (index == *seen || index == 0) return {};
  if (index != encodedIndex) {
    encodedIndex = camera->Frame(&image);
    encodedFrame = EncodeFrame(image);
  }
  *seen = encodedIndex;
  return "event: frame\ndata: " + std::to_string(encodedIndex) + " " + encodedFrame + "\n\n";
}

}  // namespace vupdate::serve
