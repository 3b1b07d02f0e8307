// The run report: the fields the run contract names, plus the faults the camera noticed.
#include "cli/report.h"

#include <cstdio>

#include "updatefile/inspect_file.h"

using nlohmann::json;

namespace {

std::vector<std::string> Escaped(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  out.reserve(lines.size());
  for (const std::string& line : lines) out.push_back(vupdate::EscapeBytes(line));
  return out;
}

}  // namespace

json RunReport(const harness::RunResult& r, const RunFacts& facts) {
  json sounds = json::array();
  for (const auto& s : r.sounds) sounds.push_back({{"id", s.id}, {"wait", s.wait}});
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
                                      {"panel", r.cutAt.panel}}
                               : json(nullptr)},
      {"final_panel", r.finalPanel},
      {"panels", r.panels},
      {"err_code", r.errCode},
      {"debug_mode", r.debugMode},
      {"sounds", sounds},
      {"log_lines", Escaped(r.logLines)},
      {"eeprom_region", r.eepromRegion ? json(*r.eepromRegion) : json(nullptr)},
      {"flash", flash},
      {"progress", {{"max", r.progressMax}, {"value", r.progressValue}}},
      {"frames", r.frames},
      {"progress_frames", r.progressFrames},
      {"virtual_seconds", r.virtualSeconds},
      {"led", r.ledValue},
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
                  "power cut (%s) at %.6f virtual seconds, flash bus operation %llu, panel %d\n",
                  facts.cutBy.c_str(), r.cutAt.virtualSeconds, static_cast<unsigned long long>(r.cutAt.busOp),
                  r.cutAt.panel);
    out += line;
  } else {
    out += r.poweredDown ? "camera powered down" : "key script ran out";
    out += "\n";
  }
  std::snprintf(line, sizeof line, "final panel %d, error code %d%s, %.2f virtual seconds, %llu frames\n",
                r.finalPanel, r.errCode, r.debugMode ? ", debug mode" : "", r.virtualSeconds,
                static_cast<unsigned long long>(r.frames));
  out += line;
  out += "panels:";
  for (int p : r.panels) out += " " + std::to_string(p);
  out += "\n";
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
  if (r.faultsInsideLock != 0) out += "fault: card access with interrupts locked\n";
  // A cut leaves open whatever was open; only a run that ended can be blamed for it.
  if (r.openFiles != 0 && !r.powerCut) out += "fault: files left open\n";
  return out;
}
