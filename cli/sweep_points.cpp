// Where vupdate sweep cuts the power, and the faults it gives the power-up after a cut.
#include "cli/sweep_points.h"

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "cli/numbers.h"
#include "platform/hardware.h"

namespace vupdate {

namespace {

using Kind = sim::FlashBus::BusOp::Kind;
using At = sim::PowerCutPoint::At;

using vestra::kFlashChipErase;
using vestra::kFlashReadArray;
using vestra::kFlashWordProgram;

bool IsArrayRead(const sim::FlashBus::BusOp& op) {
  const bool window = op.address - sim::kFlashBusBase < sim::kFlashBusSize;
  return window && (op.kind == Kind::Load32 || (op.kind == Kind::Load16 && op.address != sim::kFlashBusBase));
}

// Whether each store is a command; the store after Word Program is the word, whatever its value.
std::vector<bool> Commands(const std::vector<sim::FlashBus::BusOp>& ops) {
  std::vector<bool> command(ops.size());
  bool data = false;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    command[i] = ops[i].kind == Kind::Store16 && !data;
    data = command[i] && ops[i].value == kFlashWordProgram;
  }
  return command;
}

const std::vector<std::string>& KindNames() {
  static const std::vector<std::string> names = {"read", "param", "battery", "card", "cut"};
  return names;
}

// The kinds a --retry-faults text names; nothing when it names none it knows.
std::optional<std::set<RetryFaultKind>> ParseKinds(const std::string& text) {
  std::set<RetryFaultKind> kinds;
  if (text == "none") return kinds;
  if (text == "default") {
    for (std::size_t k = 0; k < KindNames().size(); ++k) kinds.insert(static_cast<RetryFaultKind>(k));
    return kinds;
  }
  std::stringstream list(text);
  std::string name;
  while (std::getline(list, name, ',')) {
    const auto it = std::find(KindNames().begin(), KindNames().end(), name);
    if (it == KindNames().end()) return std::nullopt;
    kinds.insert(static_cast<RetryFaultKind>(it - KindNames().begin()));
  }
  if (kinds.empty() || text.back() == ',') return std::nullopt;
  return kinds;
}

}  // namespace

const char* KindName(RetryFaultKind kind) {
  return KindNames()[static_cast<std::size_t>(kind)].c_str();
}

std::optional<std::string> CheckPoints(const std::string& points) {
  if (points == "default" || points == "all") return std::nullopt;
  const auto count = ParseNumber<std::uint64_t>(points);
  if (!count || *count == 0)
    return "--points must be default, all or a number of points from 1 to 2^64-1, not '" + points + "'";
  return std::nullopt;
}

std::optional<std::string> CheckRetryFaults(const std::string& kinds) {
  if (ParseKinds(kinds)) return std::nullopt;
  return "--retry-faults must be none, default or a comma list of read, param, battery, card, cut, not '" +
         kinds + "'";
}

const char* PhaseName(Phase phase) {
  static constexpr const char* kNames[] = {"before the erase",   "erase",          "blank check",
                                           "programming",        "read-back",      "after programming",
                                           "deleting the files", "writing the log"};
  return kNames[static_cast<std::size_t>(phase)];
}

namespace sweep {

std::vector<Phase> Phases(const std::vector<sim::FlashBus::BusOp>& ops) {
  const std::vector<bool> command = Commands(ops);
  std::vector<Phase> phases(ops.size());
  Phase phase = Phase::kBeforeErase;
  bool programmed = false;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    const auto& op = ops[i];
    if (command[i] && op.address == sim::kFlashBusBase && op.value == kFlashChipErase) phase = Phase::kErase;
    if (command[i] && op.value == kFlashWordProgram) {
      phase = Phase::kProgramming;
      programmed = true;
    }
    if (programmed && command[i] && op.value == kFlashReadArray && phase == Phase::kProgramming)
      phase = Phase::kReadBack;
    if (op.kind == Kind::Modify32 && op.address == sim::kFlashRegister1 &&
        (op.value & vestra::kWriteEnableBit) != 0 && programmed) {
      phase = Phase::kAfterProgramming;
    }
    if (phase == Phase::kErase && IsArrayRead(op)) phase = Phase::kBlankCheck;
    phases[i] = phase;
  }
  return phases;
}

std::vector<SweepPoint> ChoosePoints(const std::string& points, const std::vector<sim::FlashBus::BusOp>& ops,
                                     const std::vector<Phase>& phases) {
  std::set<std::uint64_t> chosen;  // 1-based operation numbers
  const std::uint64_t n = ops.size();
  if (points == "all") {
    // Reads of the array change nothing: within a stretch of them every cut leaves what the first leaves.
    for (std::uint64_t i = 0; i < n; ++i) {
      const bool inner =
          i > 0 && i + 1 < n && IsArrayRead(ops[i]) && IsArrayRead(ops[i - 1]) && IsArrayRead(ops[i + 1]);
      if (!inner) chosen.insert(i + 1);
    }
  } else if (points == "default") {
    std::vector<std::uint64_t> words;
    for (std::uint64_t i = 0; i < n; ++i) {
      if (i == 0 || phases[i] != phases[i - 1]) chosen.insert(i + 1);  // every phase boundary
      if (phases[i] == Phase::kErase && ops[i].kind == Kind::Load16)
        chosen.insert(i + 1);  // every erase poll
      if (i > 0 && ops[i - 1].kind == Kind::Store16 && ops[i - 1].value == kFlashWordProgram &&
          ops[i].kind == Kind::Store16) {
        words.push_back(i + 1);  // the data store of a word
      }
    }
    std::map<std::uint32_t, std::pair<std::uint64_t, std::uint64_t>> blocks;
    for (std::uint64_t w : words) {
      const std::uint32_t block = (ops[w - 1].address - sim::kFlashBusBase) >> 16;
      auto [it, fresh] = blocks.try_emplace(block, w, w);
      if (!fresh) it->second.second = w;
    }
    for (auto& [block, range] : blocks) {
      chosen.insert(range.first + 1);  // the first poll of the block's first word: a torn word
      chosen.insert(range.second + 1);
    }
    for (std::size_t k = 1; k <= 50 && !words.empty(); ++k)
      chosen.insert(words[(words.size() - 1) * k / 50] + 1);
  } else {
    // More points than operations is every operation.
    const std::uint64_t count = std::min<std::uint64_t>(ParseNumber<std::uint64_t>(points).value_or(0), n);
    for (std::uint64_t k = 0; k < count; ++k)
      chosen.insert(1 + (n - 1) * k / std::max<std::uint64_t>(count - 1, 1));
  }
  std::vector<SweepPoint> out;
  for (std::uint64_t op : chosen) {
    if (op == 0 || op > n) continue;
    out.push_back({{At::kBusOp, op}, phases[op - 1]});
  }
  const std::vector<SweepPoint> card = CardPoints();
  out.insert(out.end(), card.begin(), card.end());
  return out;
}

std::vector<SweepPoint> CardPoints() {
  return {{{At::kBeforeDelete, 1}, Phase::kDeletingFiles},
          {{At::kBetweenDeletes, 1}, Phase::kDeletingFiles},
          {{At::kLogWrite, 1}, Phase::kWritingLog}};
}

std::optional<BrickWindow> FindBrickWindow(const std::vector<sim::FlashBus::BusOp>& ops,
                                           const std::vector<std::uint64_t>& nanoseconds) {
  const std::vector<bool> command = Commands(ops);
  std::optional<std::size_t> erase, lastWord;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    if (!erase && command[i] && ops[i].address == sim::kFlashBusBase && ops[i].value == kFlashChipErase)
      erase = i;
    if (i > 0 && command[i - 1] && ops[i - 1].value == kFlashWordProgram) lastWord = i;
  }
  if (!erase || !lastWord || *lastWord < *erase || nanoseconds.size() != ops.size()) return std::nullopt;
  // The word is done when a status read first says the device is ready again.
  std::size_t done = *lastWord;
  for (std::size_t i = *lastWord + 1; i < ops.size(); ++i) {
    if (ops[i].kind == Kind::Load16 && ops[i].address == sim::kFlashBusBase &&
        (ops[i].value & vestra::kFlashStatusReady) != 0) {
      done = i;
      break;
    }
  }
  return BrickWindow{*erase + 1, done + 1, static_cast<double>(nanoseconds[*erase]) / 1e9,
                     static_cast<double>(nanoseconds[done]) / 1e9};
}

std::vector<CrossCut> CrossCuts(std::uint64_t words) {
  std::vector<CrossCut> cuts = {
      {"before the erase", {At::kBeforeErase, 1}},
      {"during the erase", {At::kDuringErase, 1}},
      {"first word", {At::kWord, 1}},
      {"middle word", {At::kWord, (words + 1) / 2}},
      {"last word", {At::kWord, words}},
      {"after the last word", {At::kAfterLastWord, 1}},
      {"between the deletions", {At::kBetweenDeletes, 1}},
      {"writing the log", {At::kLogWrite, 1}},
  };
  if (words == 0) {
    std::erase_if(cuts, [](const CrossCut& c) { return c.cut.at == At::kWord; });
  }
  return cuts;
}

std::vector<RetryFault> MakeRetryFaults(const std::string& kinds, const Landmarks& l) {
  const std::set<RetryFaultKind> wanted = ParseKinds(kinds).value_or(std::set<RetryFaultKind>{});
  std::vector<RetryFault> faults;
  using When = RetryFault::When;
  if (wanted.contains(RetryFaultKind::kRead) && l.trailerOffset > l.headerSize) {
    // Bytes that every pass over the code file reads: the header, the image's ends and middle, the trailer's
    // start and the end of the file, each at every read that covers it.
    const std::uint32_t image = l.trailerOffset - l.headerSize;
    const std::pair<const char*, std::uint64_t> bytes[] = {
        {"header", 0},
        {"first image byte", l.headerSize},
        {"middle image byte", l.headerSize + image / 2},
        {"last image byte", l.trailerOffset - 1},
        {"trailer", l.trailerOffset},
        {"last-but-four byte", l.fileSize >= 5 ? l.fileSize - 5 : 0},
    };
    std::set<std::uint64_t> seen;
    for (const auto& [what, offset] : bytes) {
      if (!seen.insert(offset).second) continue;
      std::uint32_t reads = 0;
      for (const auto& [at, length] : l.codeReads) reads += offset >= at && offset - at < length ? 1 : 0;
      for (std::uint32_t nth = 1; nth <= reads; ++nth) {
        RetryFault f{.kind = RetryFaultKind::kRead};
        f.readError = {
            .file = l.codeFile, .offset = static_cast<std::uint32_t>(offset), .fromRead = nth, .times = 1};
        f.name = std::string(what) + " (" + std::to_string(offset) + "), read " + std::to_string(nth);
        faults.push_back(std::move(f));
      }
    }
  }
  if (wanted.contains(RetryFaultKind::kParam)) {
    for (std::string_view name : sim::kParameterNames) {
      faults.push_back({.kind = RetryFaultKind::kParam,
                        .name = std::string(name) + " unreadable",
                        .parameter = std::string(name)});
    }
  }
  if (wanted.contains(RetryFaultKind::kBattery)) {
    faults.push_back({.kind = RetryFaultKind::kBattery, .name = "low at power-on", .when = When::kPowerOn});
    faults.push_back(
        {.kind = RetryFaultKind::kBattery, .name = "low from the Update key", .when = When::kUpdateKey});
  }
  if (wanted.contains(RetryFaultKind::kCard)) {
    const std::pair<const char*, When> pulls[] = {{"pulled at power-on", When::kPowerOn},
                                                  {"pulled during verification", When::kVerification},
                                                  {"pulled during the erase", When::kErase},
                                                  {"pulled during programming", When::kProgramming}};
    for (const auto& [name, when] : pulls)
      faults.push_back({.kind = RetryFaultKind::kCard, .name = name, .when = when});
  }
  if (wanted.contains(RetryFaultKind::kCut)) {
    const std::pair<const char*, sim::PowerCutPoint> cuts[] = {
        {"before_erase", {At::kBeforeErase, 1}},
        {"during_erase", {At::kDuringErase, 1}},
        {"word:1", {At::kWord, 1}},
        {"word:middle", {At::kWord, (l.words + 1) / 2}},
        {"word:last", {At::kWord, l.words}},
        {"after_last_word", {At::kAfterLastWord, 1}},
        {"before_delete", {At::kBeforeDelete, 1}},
        {"between_deletes", {At::kBetweenDeletes, 1}},
        {"log_write", {At::kLogWrite, 1}},
    };
    for (const auto& [name, cut] : cuts) {
      if (cut.at == At::kWord && l.words == 0) continue;
      faults.push_back({.kind = RetryFaultKind::kCut, .name = name, .cut = cut});
    }
  }
  return faults;
}

}  // namespace sweep

}  // namespace vupdate
