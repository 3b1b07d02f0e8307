// The run report: the fields the run contract names, plus the faults the camera noticed.
#include "cli/report.h"

#include <cstdio>

#include "harness/names.h"
#include "updatefile/inspect_file.h"

namespace vupdate {

using nlohmann::json;

namespace {

// A number and its name, as the summary says them: "battery (8)".
std::string Named(std::string_view name, int value) {
  return std::string(name) + " (" + std::to_string(value) + ")";
}

json CardJson(const RunFacts& facts) {
  if (!facts.card) return nullptr;
  json files = json::array();
  for (const auto& e : facts.card->entries)
    files.push_back({{"path", vupdate::EscapeBytes(e.path)}, {"size", e.size}});
  return {{"folder", vupdate::EscapeBytes(facts.cardFolder)},
          {"in_place", facts.cardInPlace},
          {"files", files},
          {"log",
           facts.card->log ? json(vupdate::EscapeEach(cardcopy::Lines(*facts.card->log))) : json(nullptr)}};
}

}  // namespace

json RunReport(const harness::RunResult& r, const RunFacts& facts) {
  json sounds = json::array();
  for (const auto& s : r.sounds)
    sounds.push_back({{"id", s.id}, {"name", harness::SoundName(s.id)}, {"wait", s.wait}});
  json panelNames = json::array();
  for (const PanelId p : r.panels) panelNames.push_back(harness::PanelName(p));
  json flash = nullptr;
  if (r.flash) {
    flash = {{"erases", r.flash->erases},
             {"blank_checks", r.flash->blankChecks},
             {"words_programmed", r.flash->wordsProgrammed},
             {"write_enable_violations", r.flash->writeEnableViolations}};
  }
  json report = {
      {"camera_profile",
       facts.cameraProfile.empty() ? json(nullptr) : json(vupdate::EscapeBytes(facts.cameraProfile))},
      {"powered_down", r.poweredDown},
      {"script_ended", r.scriptEnded},
      {"power_cut", r.powerCut ? json{{"by", facts.cutBy},
                                      {"virtual_seconds", r.cutAt.virtualSeconds},
                                      {"bus_op", r.cutAt.busOp},
                                      {"panel", r.cutAt.panel},
                                      {"panel_name", harness::PanelName(r.cutAt.panel)}}
                               : json(nullptr)},
      {"final_panel", r.finalPanel},
      {"final_panel_name", harness::PanelName(r.finalPanel)},
      {"panels", r.panels},
      {"panel_names", panelNames},
      {"err_code", r.errCode},
      {"err_code_name", harness::ErrorCodeName(r.errCode)},
      {"debug_mode", r.debugMode},
      {"sounds", sounds},
      {"log_lines", vupdate::EscapeEach(r.logLines)},
      {"eeprom_region", r.eepromRegion ? json(*r.eepromRegion) : json(nullptr)},
      {"flash", flash},
      {"progress", {{"max", r.progressMax}, {"value", r.progressValue}}},
      {"frames", r.frames},
      {"progress_frames", r.progressFrames},
      {"virtual_seconds", r.virtualSeconds},
      {"led", r.ledValue},
      {"led_name", harness::LedName(r.ledValue)},
      {"card", CardJson(facts)},
      {"faults",
       {{"inside_interrupt_lock", r.faultsInsideLock},
        {"files_left_open", r.openFiles},
        {"flash_resource_reads_after_erase", r.flashResourceReads}}},
      {"error", r.error.empty() ? json(nullptr) : json(vupdate::EscapeBytes(r.error))},
  };
  return report;
}

std::string Dump(const json& report) {
  return report.dump(2, ' ', false, json::error_handler_t::replace);
}

std::string RunSummary(const harness::RunResult& r, const RunFacts& facts) {
  char line[160];
  std::string out;
  if (facts.cameraProfile.empty()) out += "camera: the built-in profile (no --camera given)\n";
  if (!r.error.empty()) {
    out += "run stopped: " + vupdate::EscapeBytes(r.error) + "\n";
  } else if (r.powerCut) {
    std::snprintf(line, sizeof line,
                  "power cut (%s) at %.6f virtual seconds, flash bus operation %llu, panel %s\n",
                  facts.cutBy.c_str(), r.cutAt.virtualSeconds, static_cast<unsigned long long>(r.cutAt.busOp),
                  Named(harness::PanelName(r.cutAt.panel), r.cutAt.panel).c_str());
    out += line;
  } else {
    out += r.poweredDown ? "camera powered down" : "key script ran out";
    out += "\n";
  }
  std::snprintf(line, sizeof line, "final panel %s, error code %s%s, %.2f virtual seconds, %llu frames\n",
                Named(harness::PanelName(r.finalPanel), r.finalPanel).c_str(),
                Named(harness::ErrorCodeName(r.errCode), r.errCode).c_str(),
                r.debugMode ? ", debug mode" : "", r.virtualSeconds,
                static_cast<unsigned long long>(r.frames));
  out += line;
  out += "panels:";
  for (const PanelId p : r.panels) out += " " + Named(harness::PanelName(p), p);
  out += "\n";
  if (!r.sounds.empty()) {
    out += "sounds:";
    for (const auto& s : r.sounds) out += " " + Named(harness::SoundName(s.id), s.id);
    out += "\n";
  }
  out += "LED: " + Named(harness::LedName(r.ledValue), r.ledValue) + "\n";
  if (r.flash) {
    std::snprintf(line, sizeof line,
                  "flash: %llu erases, %llu words programmed, %llu write-enable violations\n",
                  static_cast<unsigned long long>(r.flash->erases),
                  static_cast<unsigned long long>(r.flash->wordsProgrammed),
                  static_cast<unsigned long long>(r.flash->writeEnableViolations));
    out += line;
  }
  if (r.progressMax != 0) {
    std::snprintf(line, sizeof line, "progress: %u of %u\n", r.progressValue, r.progressMax);
    out += line;
  }
  if (r.eepromRegion) out += "EEPROM region rewritten to " + std::to_string(*r.eepromRegion) + "\n";
  for (const auto& l : r.logLines) out += "log: " + vupdate::EscapeBytes(l) + "\n";
  if (facts.card) {
    out += facts.cardInPlace ? "card " : "card (a copy; the folder is as it was) ";
    out += "as the run left it:";
    if (facts.card->entries.empty()) out += " empty";
    out += "\n";
    for (const auto& e : facts.card->entries) {
      out += "  " + vupdate::EscapeBytes(e.path);
      if (e.path.empty() || e.path.back() != '/') out += "  " + std::to_string(e.size) + " bytes";
      out += "\n";
    }
    // Lines of earlier runs too, when the log holds more than this run wrote.
    const auto log = facts.card->log ? cardcopy::Lines(*facts.card->log) : std::vector<std::string>{};
    if (log != r.logLines) {
      out += "  UPDATE.LOG holds:";
      if (log.empty()) out += " nothing";
      out += "\n";
      for (const auto& l : log) out += "    " + vupdate::EscapeBytes(l) + "\n";
    }
  }
  if (r.faultsInsideLock != 0) out += "fault: card access with interrupts locked\n";
  // A cut leaves open whatever was open; only a run that ended can be blamed for it.
  if (r.openFiles != 0 && !r.powerCut) out += "fault: files left open\n";
  return out;
}

}  // namespace vupdate
