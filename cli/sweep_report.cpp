// vupdate sweep as a command: its options checked, the sweep run, the tables or the JSON, the verdict.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/commands.h"
#include "cli/junit.h"
#include "cli/paths.h"
#include "cli/sweep.h"
#include "harness/names.h"
#include "sim/events.h"
#include "sim/profile_toml.h"
#include "updatefile/inspect_file.h"

namespace vupdate {

namespace {

using vupdate::FlashAfterCut;

const char* FlashName(FlashAfterCut f) {
  return f == FlashAfterCut::kOld       ? "old"
         : f == FlashAfterCut::kErased  ? "erased"
         : f == FlashAfterCut::kPartial ? "partial"
                                        : "new";
}

nlohmann::json HeldJson(const vupdate::Held& h) {
  return {{"flash", FlashName(h.flash)}, {"files_left", h.filesLeft}};
}

struct SweepArgs {
  std::string card, camera, flash, keys = "left,left,left,centre", points = "default", retryFaults = "none";
  std::optional<std::string> retryKeys;
  unsigned jobs = 1;
  bool json = false;
  bool verifyClasses = false;
  bool bruteForce = false;
  std::string junit;
};

// Every input, before anything is read: a fifo would block the sweep, a bad number would run forever.
std::optional<std::string> Validate(const SweepArgs& a) {
  if (auto problem = paths::CheckInputFolder("--card", a.card)) return problem;
  if (auto problem = paths::CheckInputFile("--camera", a.camera)) return problem;
  if (auto problem = paths::CheckFlashFile("--flash", a.flash, false)) return problem;
  if (!a.junit.empty()) {
    if (auto problem = paths::CheckOutputFile("--junit", a.junit, false)) return problem;
  }
  if (auto problem = vupdate::CheckPoints(a.points)) return vupdate::EscapeBytes(*problem);
  if (auto problem = vupdate::CheckRetryFaults(a.retryFaults)) return vupdate::EscapeBytes(*problem);
  for (const auto& [name, keys] :
       {std::pair{"--keys", a.keys}, std::pair{"--retry-keys", a.retryKeys.value_or("")}}) {
    try {
      sim::ParseKeyScript(keys);
    } catch (const sim::KeyScriptError& e) {
      return std::string(name) + ": " + vupdate::EscapeBytes(e.what());
    }
  }
  return std::nullopt;
}

// The uncut run did not install the update: there is nothing to cut, and that is no pass.
int NotSwept(const vupdate::SweepResult& r, bool json) {
  const std::string log = vupdate::EscapeBytes(r.firstLogLine);
  if (json) {
    std::cout << nlohmann::json{{"swept", false},
                                {"installed", false},
                                {"code_file", vupdate::EscapeBytes(r.codeFile)},
                                {"panel", r.panel},
                                {"first_log_line", log},
                                {"operations", r.operations},
                                {"lost", nullptr}}
                     .dump(2)
              << "\n";
  } else {
    std::printf("update: %llu bus operations, %.2f virtual seconds, code file %s\n",
                static_cast<unsigned long long>(r.operations), r.seconds,
                r.codeFile.empty() ? "none" : vupdate::EscapeBytes(r.codeFile).c_str());
    std::printf("NOT SWEPT: the uncut run did not install the update; it ended on panel %d, %s\n", r.panel,
                log.empty() ? "no log line" : ("first log line: " + log).c_str());
  }
  return kExitNotSwept;
}

void PrintPoints(const vupdate::SweepResult& r) {
  struct Row {
    std::size_t points = 0, old = 0, erased = 0, partial = 0, fresh = 0, kept = 0, restored = 0, lost = 0;
  };
  std::vector<std::pair<vupdate::Phase, Row>> rows;
  std::size_t unreached = 0;
  auto add = [&](const vupdate::SweepPoint& p, std::size_t count) {
    if (!p.cutHappened) {
      unreached += count;
      return;
    }
    auto it = std::find_if(rows.begin(), rows.end(), [&](const auto& e) { return e.first == p.phase; });
    if (it == rows.end()) it = rows.insert(rows.end(), {p.phase, Row{}});
    Row& row = it->second;
    row.points += count;
    (p.flash == FlashAfterCut::kOld       ? row.old
     : p.flash == FlashAfterCut::kErased  ? row.erased
     : p.flash == FlashAfterCut::kPartial ? row.partial
                                          : row.fresh) += count;
    row.kept += p.filesLeft == r.updateFiles ? count : 0;
    row.restored += (p.cleanRun ? p.afterClean.flash == FlashAfterCut::kNew : p.retryRestored) ? count : 0;
    row.lost += p.Lost(r.updateFiles) ? count : 0;
  };
  for (const auto& range : r.ranges) add(range.point, range.lastOp - range.point.busOp + 1);
  for (const auto& p : r.points) {
    // With the classes, the bus operations are theirs; the points run beside them are the cross-check's.
    if (r.ranges.empty() || p.cut.at != sim::PowerCutPoint::At::kBusOp) add(p, 1);
  }
  std::printf("%-20s %8s %8s %7s %8s %8s %10s %9s %5s\n", "phase", "points", "old", "erased", "partial",
              "new", "files kept", "restored", "lost");
  for (const auto& [phase, row] : rows) {
    std::printf("%-20s %8zu %8zu %7zu %8zu %8zu %10zu %9zu %5zu\n", vupdate::PhaseName(phase), row.points,
                row.old, row.erased, row.partial, row.fresh, row.kept, row.restored, row.lost);
  }
  if (unreached == 1) std::printf("1 point never reached: the update ended before it\n");
  if (unreached > 1) std::printf("%zu points never reached: the update ended before them\n", unreached);
  if (!r.ranges.empty()) {
    std::size_t own = 0;
    for (const auto& c : r.classes) own += c.shareable ? 0 : 1;
    std::printf(
        "every one of %llu bus operations judged: %zu classes of cut states, %zu cut and retried for real",
        static_cast<unsigned long long>(r.operations), r.classes.size(), r.classes.size());
    if (own != 0) std::printf(" (%zu with a verdict of their own)", own);
    std::printf("\n");
  }
}

// With the classes: every bus operation's cut followed by each retry fault, lost operations by fault kind.
void PrintFaultSweeps(const vupdate::SweepResult& r) {
  struct Row {
    std::uint64_t lost = 0, operations = 0;
    std::size_t faults = 0, classes = 0;
  };
  std::vector<std::pair<vupdate::RetryFaultKind, Row>> rows;
  for (std::size_t f = 0; f < r.faultSweeps.size(); ++f) {
    const auto kind = r.retryFaults[f].kind;
    auto it = std::find_if(rows.begin(), rows.end(), [&](const auto& e) { return e.first == kind; });
    if (it == rows.end()) it = rows.insert(rows.end(), {kind, Row{}});
    ++it->second.faults;
    it->second.classes += r.faultSweeps[f].classes.size();
    for (const auto& range : r.faultSweeps[f].ranges) {
      const std::uint64_t count = range.lastOp - range.point.busOp + 1;
      it->second.operations += count;
      it->second.lost += range.point.Lost(r.updateFiles) ? count : 0;
    }
  }
  std::printf("\nevery bus operation's cut, then each retry fault and a clean power-up\n");
  std::printf("%-8s %6s %8s %14s %10s\n", "kind", "faults", "classes", "cuts x faults", "lost");
  for (const auto& [kind, row] : rows) {
    std::printf("%-8s %6zu %8zu %14llu %10llu\n", vupdate::KindName(kind), row.faults, row.classes,
                static_cast<unsigned long long>(row.operations), static_cast<unsigned long long>(row.lost));
  }
}

// The cross-check: every point run for real, compared with the verdict of its class.
void PrintCrossCheck(const vupdate::SweepResult& r) {
  std::printf("cross-check: %llu points run for real, %zu disagree with their class\n",
              static_cast<unsigned long long>(r.verified), r.disagreements.size());
  for (std::size_t i = 0; i < r.disagreements.size() && i < 20; ++i)
    std::printf("  %s\n", vupdate::EscapeBytes(r.disagreements[i]).c_str());
}

// Cut by kind of retry fault: how many pairs lose the update, of how many.
void PrintRetryFaults(const vupdate::SweepResult& r) {
  std::vector<vupdate::RetryFaultKind> kinds;
  for (const auto& f : r.retryFaults) {
    if (std::find(kinds.begin(), kinds.end(), f.kind) == kinds.end()) kinds.push_back(f.kind);
  }
  std::map<std::pair<std::uint32_t, vupdate::RetryFaultKind>, std::pair<std::size_t, std::size_t>> cells;
  for (const auto& x : r.retryOutcomes) {
    auto& [lost, points] = cells[{x.cut, r.retryFaults[x.fault].kind}];
    ++points;
    lost += x.Lost() ? 1 : 0;
  }
  std::printf("\nretry faults: %zu faults after each cut, then a clean power-up; lost/points\n",
              r.retryFaults.size());
  std::printf("%-22s", "cut");
  for (auto kind : kinds) std::printf(" %8s", vupdate::KindName(kind));
  std::printf("\n");
  for (std::uint32_t c = 0; c < r.crossCuts.size(); ++c) {
    std::printf("%-22s", r.crossCuts[c].name.c_str());
    if (!r.crossCuts[c].reached) {
      std::printf(" never reached\n");
      continue;
    }
    for (auto kind : kinds) {
      const auto [lost, points] = cells[{c, kind}];
      std::printf(" %8s", (std::to_string(lost) + "/" + std::to_string(points)).c_str());
    }
    std::printf("\n");
  }
}

// What a cut at the point left and what came of it, shared by single points and ranges of them.
nlohmann::json VerdictJson(const vupdate::SweepPoint& p, std::uint32_t updateFiles) {
  nlohmann::json j = {{"phase", vupdate::PhaseName(p.phase)},
                      {"flash", FlashName(p.flash)},
                      {"files_left", p.filesLeft},
                      {"retry_restored", p.retryRestored},
                      {"false_success", p.falseSuccess},
                      {"lost", p.Lost(updateFiles)}};
  if (p.cleanRun) {
    j["after_retry"] = HeldJson(p.afterRetry);
    j["after_clean"] = HeldJson(p.afterClean);
  }
  return j;
}

nlohmann::json Json(const vupdate::SweepResult& r) {
  nlohmann::json points = nlohmann::json::array();
  for (const auto& p : r.points) {
    if (!r.ranges.empty() && p.cut.at == sim::PowerCutPoint::At::kBusOp) continue;
    nlohmann::json point = VerdictJson(p, r.updateFiles);
    point["cut"] = p.cutHappened;
    point["bus_op"] = p.busOp;
    point["seconds"] = p.seconds;
    points.push_back(std::move(point));
  }
  nlohmann::json retries = nlohmann::json::array();
  for (const auto& x : r.retryOutcomes) {
    const vupdate::CrossCut& cut = r.crossCuts[x.cut];
    const vupdate::RetryFault& fault = r.retryFaults[x.fault];
    nlohmann::json retry = HeldJson(x.afterRetry), clean = HeldJson(x.afterClean);
    retry["panel"] = x.retryPanel;
    retry["power_cut"] = x.retryCut;
    clean["panel"] = x.cleanPanel;
    retries.push_back({{"cut", cut.name},
                       {"fault_kind", vupdate::KindName(fault.kind)},
                       {"fault", vupdate::EscapeBytes(fault.name)},
                       {"after_cut", HeldJson(cut.afterCut)},
                       {"after_retry", retry},
                       {"after_clean", clean},
                       {"false_success", x.falseSuccess},
                       {"lost", x.Lost()}});
  }
  nlohmann::json ranges = nlohmann::json::array();
  for (const auto& range : r.ranges) {
    const auto& p = range.point;
    nlohmann::json j = VerdictJson(p, r.updateFiles);
    j["first_op"] = p.busOp;
    j["last_op"] = range.lastOp;
    j["class"] = range.cutClass;
    ranges.push_back(std::move(j));
  }
  auto classList = [](const std::vector<vupdate::SweepResult::ClassSummary>& list) {
    nlohmann::json classes = nlohmann::json::array();
    for (const auto& c : list) {
      classes.push_back({{"founder_op", c.founder},
                         {"points", c.points},
                         {"dependencies", c.dependencies},
                         {"shared", c.shareable}});
    }
    return classes;
  };
  const nlohmann::json classes = classList(r.classes);
  nlohmann::json faultSweeps = nlohmann::json::array();
  for (std::size_t f = 0; f < r.faultSweeps.size(); ++f) {
    std::uint64_t lost = 0;
    nlohmann::json lostRanges = nlohmann::json::array();
    for (const auto& range : r.faultSweeps[f].ranges) {
      if (!range.point.Lost(r.updateFiles)) continue;
      lost += range.lastOp - range.point.busOp + 1;
      lostRanges.push_back(
          {{"first_op", range.point.busOp}, {"last_op", range.lastOp}, {"class", range.cutClass}});
    }
    faultSweeps.push_back({{"fault_kind", vupdate::KindName(r.retryFaults[f].kind)},
                           {"fault", vupdate::EscapeBytes(r.retryFaults[f].name)},
                           {"classes", classList(r.faultSweeps[f].classes)},
                           {"lost_operations", lost},
                           {"lost_ranges", lostRanges}});
  }
  nlohmann::json cuts = nlohmann::json::array();
  for (const auto& c : r.crossCuts) cuts.push_back({{"cut", c.name}, {"reached", c.reached}});
  nlohmann::json window = nullptr;
  if (r.brickWindow) {
    window = {{"first_op", r.brickWindow->firstOp},
              {"last_op", r.brickWindow->lastOp},
              {"first_seconds", r.brickWindow->firstSeconds},
              {"last_seconds", r.brickWindow->lastSeconds}};
  }
  nlohmann::json j = {{"swept", true},
                      {"installed", true},
                      {"code_file", vupdate::EscapeBytes(r.codeFile)},
                      {"operations", r.operations},
                      {"seconds", r.seconds},
                      {"update_files", r.updateFiles},
                      {"points", points},
                      {"operation_ranges", ranges},
                      {"classes", classes},
                      {"every_operation_retry_faults", faultSweeps},
                      {"retry_cuts", cuts},
                      {"retry_faults", retries},
                      {"brick_window", window},
                      {"lost", r.lost}};
  if (r.verified != 0) {
    j["cross_check"] = {{"points", r.verified}, {"disagreements", r.disagreements}};
  }
  return j;
}

std::string PowerUpText(const vupdate::PowerUpTrace& t) {
  return "panel " + std::to_string(t.panel) + " (" + std::string(harness::PanelName(t.panel)) + "), result " +
         std::to_string(t.errCode) + " (" + std::string(harness::ErrorCodeName(t.errCode)) + ")" +
         (t.powerCut ? ", cut" : "");
}

std::string PointText(const vupdate::SweepPoint& p, std::uint32_t updateFiles) {
  std::string text = std::string("cut leaves ") + FlashName(p.flash) + " flash, " +
                     std::to_string(p.filesLeft) + "/" + std::to_string(updateFiles) + " files; retry " +
                     FlashName(p.afterRetry.flash);
  if (p.retryTrace.panel >= 0) text += ", " + PowerUpText(p.retryTrace);
  if (p.cleanRun) {
    text += "; clean power-up " + std::string(FlashName(p.afterClean.flash));
    if (p.cleanTrace.panel >= 0) text += ", " + PowerUpText(p.cleanTrace);
  }
  return text;
}

// One case per class of cut states (or per point, when the sweep ran points), and per cut and retry fault.
std::vector<vupdate::JunitCase> JunitCases(const vupdate::SweepResult& r) {
  std::vector<vupdate::JunitCase> cases;
  auto classCases = [&](const std::vector<vupdate::SweepResult::PointRange>& ranges, std::size_t classes,
                        const std::string& classname) {
    std::vector<vupdate::JunitCase> byClass(classes);
    std::vector<std::uint64_t> points(classes), lost(classes);
    for (const auto& range : ranges) {
      const std::uint64_t count = range.lastOp - range.point.busOp + 1;
      auto& c = byClass[range.cutClass];
      if (points[range.cutClass] == 0) c.output = PointText(range.point, r.updateFiles);
      points[range.cutClass] += count;
      if (range.point.Lost(r.updateFiles)) {
        lost[range.cutClass] += count;
        c.failure = "lost from operation " + std::to_string(range.point.busOp) + ": " +
                    PointText(range.point, r.updateFiles);
      }
    }
    for (std::size_t k = 0; k < classes; ++k) {
      byClass[k].classname = classname;
      byClass[k].name = "class " + std::to_string(k) + " (" + std::to_string(points[k]) + " operations)";
      if (lost[k] != 0) *byClass[k].failure += " (" + std::to_string(lost[k]) + " operations lost)";
      cases.push_back(std::move(byClass[k]));
    }
  };
  classCases(r.ranges, r.classes.size(), "sweep.classes");
  for (std::size_t f = 0; f < r.faultSweeps.size(); ++f) {
    classCases(r.faultSweeps[f].ranges, r.faultSweeps[f].classes.size(),
               "sweep.classes." + vupdate::EscapeBytes(r.retryFaults[f].name));
  }
  for (const auto& p : r.points) {
    if (!r.ranges.empty() && p.cut.at == sim::PowerCutPoint::At::kBusOp) continue;
    vupdate::JunitCase c{
        .name = std::string(vupdate::PhaseName(p.phase)) + ", operation " + std::to_string(p.busOp),
        .classname = "sweep.points"};
    if (!p.cutHappened) {
      c.output = "never reached";
    } else {
      c.output = PointText(p, r.updateFiles);
      if (p.Lost(r.updateFiles)) c.failure = "lost: " + c.output;
    }
    cases.push_back(std::move(c));
  }
  for (const auto& x : r.retryOutcomes) {
    vupdate::JunitCase c{
        .name = r.crossCuts[x.cut].name + " / " + vupdate::EscapeBytes(r.retryFaults[x.fault].name),
        .classname = "sweep.retry_faults"};
    c.output = std::string("retry ") + FlashName(x.afterRetry.flash) + ", panel " +
               std::to_string(x.retryPanel) + " (" + std::string(harness::PanelName(x.retryPanel)) +
               "); clean power-up " + FlashName(x.afterClean.flash) + ", panel " +
               std::to_string(x.cleanPanel) + " (" + std::string(harness::PanelName(x.cleanPanel)) + ")";
    if (x.Lost()) c.failure = "lost: " + c.output;
    cases.push_back(std::move(c));
  }
  return cases;
}

int Sweep(const SweepArgs& a) {
  if (auto problem = Validate(a)) {
    std::cerr << "vupdate sweep: " << *problem << "\n";
    return kExitUsage;
  }
  vupdate::SweepOptions o{.card = a.card,
                          .flash = a.flash,
                          .keys = a.keys,
                          .retryKeys = a.retryKeys,
                          .points = a.points,
                          .retryFaults = a.retryFaults,
                          .jobs = a.jobs,
                          .progress = !a.json && ::isatty(2) != 0,
                          .reduce = !a.bruteForce,
                          .verifyClasses = a.verifyClasses};
  try {
    o.profile = sim::LoadProfile(a.camera);
  } catch (const sim::ProfileError& e) {
    std::cerr << "vupdate sweep: " << vupdate::EscapeBytes(e.what()) << "\n";
    return kExitUsage;
  }
  const vupdate::SweepResult r = vupdate::RunSweep(o);
  if (!r.error.empty()) {
    std::cerr << "vupdate sweep: " << vupdate::EscapeBytes(r.error) << "\n";
    return kExitUsage;
  }
  if (!r.installed) return NotSwept(r, a.json);
  if (!a.junit.empty()) {
    const std::vector<vupdate::JunitCase> cases = JunitCases(r);
    if (auto problem = vupdate::WriteJunit(a.junit, "vupdate sweep", cases)) {
      std::cerr << "vupdate sweep: " << vupdate::EscapeBytes(*problem) << "\n";
      return kExitFailed;
    }
  }
  if (a.json) {
    std::cout << Json(r).dump(2) << "\n";
  } else {
    std::printf("update: %llu bus operations, %.2f virtual seconds, %u update files (code file %s)\n",
                static_cast<unsigned long long>(r.operations), r.seconds, r.updateFiles,
                vupdate::EscapeBytes(r.codeFile).c_str());
    PrintPoints(r);
    if (r.brickWindow) {
      std::printf(
          "brick window: operations %llu to %llu, %.3f s to %.3f s (erase command to the last word done)\n",
          static_cast<unsigned long long>(r.brickWindow->firstOp),
          static_cast<unsigned long long>(r.brickWindow->lastOp), r.brickWindow->firstSeconds,
          r.brickWindow->lastSeconds);
    }
    if (!r.faultSweeps.empty()) PrintFaultSweeps(r);
    if (!r.retryFaults.empty()) PrintRetryFaults(r);
    if (a.verifyClasses) PrintCrossCheck(r);
    std::printf(r.lost ? "LOST: some cut loses the update\n" : "no cut loses the update\n");
  }
  return r.lost || !r.disagreements.empty() ? kExitFailed : kExitOk;
}

}  // namespace

void AddSweepCommand(CLI::App& app, int* exitCode) {
  auto args = std::make_shared<SweepArgs>();
  CLI::App* sweep = app.add_subcommand("sweep", "Cut the power at every chosen point of an update and retry");
  sweep->add_option("--card", args->card, "Card folder (read only)")->required();
  sweep->add_option("--camera", args->camera, "Camera profile (TOML)")->required();
  sweep
      ->add_option("--flash", args->flash,
                   "Flash ROM contents before the update (read only; missing or empty: the old firmware)")
      ->required();
  sweep->add_option("--keys", args->keys, "Key script of the update")->capture_default_str();
  sweep->add_option("--retry-keys", args->retryKeys,
                    "Key script of every power-up after a cut (left out: --keys); the clean one uses --keys");
  sweep->add_option("--points", args->points, "default, all, or a number of evenly spaced operations")
      ->capture_default_str();
  sweep
      ->add_option("--retry-faults", args->retryFaults,
                   "Faults for the power-up after a cut: none, default (all kinds), or a comma list of "
                   "read, param, battery, card, cut")
      ->capture_default_str();
  sweep->add_option("--jobs", args->jobs, "Parallel jobs")->check(CLI::Range(1u, 64u))->capture_default_str();
  sweep->add_flag("--json", args->json, "JSON instead of the tables");
  sweep->add_option(
      "--junit", args->junit,
      "Also write JUnit XML: a test case per class of cut states (or per point) and per cut and "
      "retry fault");
  sweep->add_flag("--verify-classes", args->verifyClasses,
                  "With --points all: run every point for real too and compare it with its class's verdict");
  sweep->add_flag("--brute-force", args->bruteForce,
                  "With --points all: run every point for real instead of classing the cut states");
  sweep->footer(
      "Retry fault kinds, each crossed with a cut before, during and after the erase, at the first, a "
      "middle\n"
      "and the last word, between the deletions and at the log write, and followed by a clean power-up:\n"
      "read (a card read error once, at each read of the code file's header, image, trailer and end),\n"
      "param (each camera parameter unreadable), battery (low at power-on, or from the Update key on),\n"
      "card (pulled at power-on, during verification, the erase or programming), cut (a second cut at each\n"
      "phase). The profile's [faults.retry] applies to every power-up after a cut.\n"
      "Exit status: 0 no cut loses the update; 1 some cut, or cut and retry fault, loses it, or a success\n"
      "panel stands over a flash without the new image, or --verify-classes found a point whose class\n"
      "says otherwise; 2 bad arguments, inputs or profile; 4 nothing "
      "swept:\n"
      "the uncut run did not install the update.");
  sweep->callback([args, exitCode] { *exitCode = Sweep(*args); });
}

}  // namespace vupdate
