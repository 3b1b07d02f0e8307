#include "cli/sweep.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "cli/commands.h"
#include "harness/runner.h"
#include "package/file_layout.h"
#include "package/tags.h"
#include "platform/bytes.h"
#include "sim/card_storage.h"
#include "sim/flash.h"
#include "sim/profile_toml.h"

namespace vupdate {

namespace fs = std::filesystem;
using At = sim::PowerCutPoint::At;

namespace {

constexpr int kSuccessPanel = 5;

struct CardImage {
  std::vector<std::string> folders;
  std::vector<std::pair<std::string, std::string>> files;

  std::shared_ptr<sim::MemoryCard> Make() const {
    auto card = std::make_shared<sim::MemoryCard>();
    for (const auto& f : folders) card->MakeFolder(f);
    for (const auto& [path, bytes] : files) card->Put(path, bytes);
    return card;
  }
};

CardImage ReadCard(const fs::path& root) {
  CardImage image;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(e.path(), root).generic_string();
    if (e.is_directory()) {
      image.folders.push_back(rel);
    } else if (e.is_regular_file()) {
      std::ifstream in(e.path(), std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      image.files.emplace_back(rel, bytes.str());
    }
  }
  return image;
}

struct Run {
  harness::RunResult result;
  std::vector<std::uint8_t> flash;
  std::shared_ptr<sim::MemoryCard> card;
  std::vector<sim::FlashBus::BusOp> ops;
};

Run RunOnce(const SweepOptions& o, std::shared_ptr<sim::MemoryCard> card,
            const std::vector<std::uint8_t>& flash, sim::PowerCutPoint cut, bool record) {
  sim::CameraOptions options;
  options.profile = o.profile;
  options.profile.faults.powerCut = cut;
  options.cardStorage = card;
  options.keys = o.keys;
  options.drawPixels = false;  // what a cut leaves is in the flash and on the card, not on the screen
  sim::Camera camera(std::move(options));
  camera.flash().Preload(0, flash);
  camera.flash().Record(record);
  Run run;
  run.result = harness::RunModule(camera);
  auto cells = camera.flash().contents();
  run.flash.assign(cells.begin(), cells.end());
  run.card = std::move(card);
  if (record) run.ops = camera.flash().recorded();
  return run;
}

bool IsArrayRead(const sim::FlashBus::BusOp& op) {
  using Kind = sim::FlashBus::BusOp::Kind;
  const bool window = op.address - sim::kFlashBusBase < sim::kFlashBusSize;
  return window && (op.kind == Kind::Load32 || (op.kind == Kind::Load16 && op.address != sim::kFlashBusBase));
}

// Names the stretch of the run an operation belongs to, from the commands seen before it.
std::vector<std::string> Phases(const std::vector<sim::FlashBus::BusOp>& ops) {
  using Kind = sim::FlashBus::BusOp::Kind;
  std::vector<std::string> phases(ops.size());
  std::string phase = "before the erase";
  bool programmed = false;
  bool data = false;  // the store after Word Program is the word, whatever its value
  for (std::size_t i = 0; i < ops.size(); ++i) {
    const auto& op = ops[i];
    const bool command = op.kind == Kind::Store16 && !data;
    data = command && op.value == 0x40;
    if (command && op.address == sim::kFlashBusBase && op.value == 0x30) phase = "erase";
    if (command && op.value == 0x40) {
      phase = "programming";
      programmed = true;
    }
    if (programmed && command && op.value == 0xFF && phase == "programming") phase = "read-back";
    if (op.kind == Kind::Modify32 && op.address == sim::kFlashRegister1 && (op.value & 8) != 0 &&
        programmed) {
      phase = "after programming";
    }
    if (phase == "erase" && IsArrayRead(op)) phase = "blank check";
    phases[i] = phase;
  }
  return phases;
}

std::vector<SweepPoint> ChoosePoints(const SweepOptions& o, const std::vector<sim::FlashBus::BusOp>& ops,
                                     std::string* error) {
  using Kind = sim::FlashBus::BusOp::Kind;
  const std::vector<std::string> phases = Phases(ops);
  std::set<std::uint64_t> chosen;  // 1-based operation numbers
  const std::uint64_t n = ops.size();
  if (o.points == "all") {
    // Reads of the array change nothing: within a stretch of them every cut leaves what the first leaves.
    for (std::uint64_t i = 0; i < n; ++i) {
      const bool inner =
          i > 0 && i + 1 < n && IsArrayRead(ops[i]) && IsArrayRead(ops[i - 1]) && IsArrayRead(ops[i + 1]);
      if (!inner) chosen.insert(i + 1);
    }
  } else if (o.points == "default") {
    std::vector<std::uint64_t> words;
    for (std::uint64_t i = 0; i < n; ++i) {
      if (i == 0 || phases[i] != phases[i - 1]) chosen.insert(i + 1);                 // every phase boundary
      if (phases[i] == "erase" && ops[i].kind == Kind::Load16) chosen.insert(i + 1);  // every erase poll
      if (i > 0 && ops[i - 1].kind == Kind::Store16 && ops[i - 1].value == 0x40 &&
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
    char* end = nullptr;
    const unsigned long long count = std::strtoull(o.points.c_str(), &end, 10);
    if (o.points.empty() || *end != 0 || count == 0) {
      *error = "--points must be default, all or a positive number";
      return {};
    }
    for (std::uint64_t k = 0; k < count && n > 0; ++k)
      chosen.insert(1 + (n - 1) * k / std::max<std::uint64_t>(count - 1, 1));
  }
  std::vector<SweepPoint> points;
  for (std::uint64_t op : chosen) {
    if (op == 0 || op > n) continue;
    points.push_back({{At::kBusOp, op}, phases[op - 1]});
  }
  // The card's part of the update: each file deletion and the log.
  points.push_back({{At::kBeforeDelete, 1}, "deleting the files"});
  points.push_back({{At::kBetweenDeletes, 1}, "deleting the files"});
  points.push_back({{At::kLogWrite, 1}, "writing the log"});
  return points;
}

FlashAfterCut Classify(const std::vector<std::uint8_t>& flash, const std::vector<std::uint8_t>& old,
                       const std::vector<std::uint8_t>& fresh) {
  if (flash == old) return FlashAfterCut::kOld;
  if (flash == fresh) return FlashAfterCut::kNew;
  if (std::all_of(flash.begin(), flash.end(), [](std::uint8_t b) { return b == 0xFF; }))
    return FlashAfterCut::kErased;
  return FlashAfterCut::kPartial;
}

struct Record {
  std::uint32_t index;
  std::uint8_t cutHappened, flash, retryRestored, falseSuccess;
  std::uint32_t filesLeft;
  std::uint64_t busOp;
  double seconds;
};

void Sweep(const SweepOptions& o, const CardImage& card, const std::vector<std::uint8_t>& old,
           const std::vector<std::uint8_t>& fresh, const std::vector<std::string>& updateFiles, SweepPoint& p,
           Record& r) {
  Run cut = RunOnce(o, card.Make(), old, p.cut, false);
  r.cutHappened = cut.result.powerCut;
  r.busOp = cut.result.cutAt.busOp;
  r.seconds = cut.result.cutAt.virtualSeconds;
  r.flash = static_cast<std::uint8_t>(Classify(cut.flash, old, fresh));
  r.filesLeft = 0;
  for (const auto& f : updateFiles) r.filesLeft += cut.card->Get(f).has_value() ? 1 : 0;
  bool falseSuccess = !cut.result.powerCut && cut.result.finalPanel == kSuccessPanel && cut.flash != fresh;
  // The owner starts the updater again from the card, on the camera as the cut left it.
  Run retry = RunOnce(o, cut.card, cut.flash, {}, false);
  falseSuccess = falseSuccess || (retry.result.finalPanel == kSuccessPanel && retry.flash != fresh);
  r.retryRestored = retry.flash == fresh;
  r.falseSuccess = falseSuccess;
}

}  // namespace

SweepResult RunSweep(const SweepOptions& o) {
  SweepResult out;
  std::error_code ec;
  if (!fs::is_directory(o.card, ec)) {
    out.error = "card folder '" + o.card.string() + "' does not exist or is not a folder";
    return out;
  }
  const CardImage card = ReadCard(o.card);
  std::vector<std::uint8_t> old(sim::kFlashBusSize);
  if (fs::exists(o.flash, ec)) {
    std::ifstream in(o.flash, std::ios::binary);
    in.read(reinterpret_cast<char*>(old.data()), static_cast<std::streamsize>(old.size()));
    if (!in || fs::file_size(o.flash, ec) != sim::kFlashBusSize) {
      out.error = "flash file '" + o.flash.string() + "' must hold exactly 2097152 bytes";
      return out;
    }
  } else {
    sim::FlashBus::FillOldFirmware(old);
  }

  // The new image is the code file's, wherever the update gets to: a run that fails cannot define it.
  std::vector<std::uint8_t> fresh;
  std::vector<std::string> updateFiles;
  for (const auto& [path, bytes] : card.files) {
    if (path == "SYSTEM/UPDATE.CAM" || path == "SYSTEM/UPDATE.CRS") updateFiles.push_back(path);
    const auto* b = reinterpret_cast<const std::uint8_t*>(bytes.data());
    if (!fresh.empty() || path.rfind("SYSTEM/QR40", 0) != 0 || bytes.size() < kFileHeaderSize) continue;
    const std::uint32_t headerSize = vestra::LoadBE32(b + 4);
    const std::uint32_t trailer = vestra::LoadBE32(b + 8);
    if (vestra::LoadBE32(b) != kTagCode || headerSize != kFileHeaderSize || trailer < headerSize ||
        trailer > bytes.size() || trailer - headerSize >= sim::kFlashBusSize) {
      continue;
    }
    fresh.assign(sim::kFlashBusSize, 0xFF);
    std::copy(b + headerSize, b + trailer, fresh.begin());
    updateFiles.push_back(path);
  }
  if (fresh.empty()) {
    out.error = "no update file with an image on the card (SYSTEM/QR40*.BIN)";
    return out;
  }
  const Run reference = RunOnce(o, card.Make(), old, {}, true);
  if (!reference.result.error.empty()) {
    out.error = "the update run stopped: " + reference.result.error;
    return out;
  }
  out.updateFiles = static_cast<std::uint32_t>(updateFiles.size());
  out.operations = reference.ops.size();
  out.seconds = reference.result.virtualSeconds;
  out.points = ChoosePoints(o, reference.ops, &out.error);
  if (!out.error.empty()) return out;

  // Each job is a process of its own: the module's globals are the camera's, one camera at a time.
  const unsigned jobs = std::max(1u, std::min<unsigned>(o.jobs, static_cast<unsigned>(out.points.size())));
  std::vector<int> readers;
  std::vector<pid_t> children;
  for (unsigned j = 0; j < jobs; ++j) {
    int fds[2];
    if (::pipe(fds) != 0) {
      out.error = "cannot start a job";
      break;
    }
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(fds[0]);
      for (std::size_t i = j; i < out.points.size(); i += jobs) {
        Record r{};
        r.index = static_cast<std::uint32_t>(i);
        Sweep(o, card, old, fresh, updateFiles, out.points[i], r);
        if (::write(fds[1], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) ::_exit(1);
      }
      ::_exit(0);
    }
    ::close(fds[1]);
    if (pid < 0) {
      ::close(fds[0]);
      out.error = "cannot start a job";
      break;
    }
    readers.push_back(fds[0]);
    children.push_back(pid);
  }
  std::size_t done = 0;
  for (int fd : readers) {
    Record r;
    while (::read(fd, &r, sizeof r) == static_cast<ssize_t>(sizeof r)) {
      SweepPoint& p = out.points[r.index];
      p.cutHappened = r.cutHappened != 0;
      p.busOp = r.busOp;
      p.seconds = r.seconds;
      p.flash = static_cast<FlashAfterCut>(r.flash);
      p.filesLeft = r.filesLeft;
      p.retryRestored = r.retryRestored != 0;
      p.falseSuccess = r.falseSuccess != 0;
      ++done;
      if (o.progress) {
        const std::size_t width = 40, filled = done * width / out.points.size();
        std::fprintf(stderr, "\r[%s%s] %zu/%zu", std::string(filled, '#').c_str(),
                     std::string(width - filled, '.').c_str(), done, out.points.size());
      }
    }
    ::close(fd);
  }
  if (o.progress) std::fprintf(stderr, "\n");
  bool childFailed = false;
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    childFailed = childFailed || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
  }
  if (out.error.empty() && (childFailed || done != out.points.size())) out.error = "a sweep job failed";
  for (const SweepPoint& p : out.points) out.lost = out.lost || p.Lost(out.updateFiles);
  return out;
}

}  // namespace vupdate

namespace {

const char* FlashName(vupdate::FlashAfterCut f) {
  using F = vupdate::FlashAfterCut;
  return f == F::kOld ? "old" : f == F::kErased ? "erased" : f == F::kPartial ? "partial" : "new";
}

struct SweepArgs {
  std::string card, camera, flash, keys = "left,left,left,centre", points = "default";
  unsigned jobs = 1;
  bool json = false;
};

int Sweep(const SweepArgs& a) {
  vupdate::SweepOptions o;
  o.card = a.card;
  o.flash = a.flash;
  o.keys = a.keys;
  o.points = a.points;
  o.jobs = a.jobs;
  o.progress = !a.json && ::isatty(2) != 0;
  try {
    o.profile = sim::LoadProfile(a.camera);
  } catch (const sim::ProfileError& e) {
    std::cerr << "vupdate sweep: " << e.what() << "\n";
    return kExitUsage;
  }
  const vupdate::SweepResult r = vupdate::RunSweep(o);
  if (!r.error.empty()) {
    std::cerr << "vupdate sweep: " << r.error << "\n";
    return kExitUsage;
  }
  // The brick window: the cuts that leave neither image.
  const vupdate::SweepPoint* first = nullptr;
  const vupdate::SweepPoint* last = nullptr;
  for (const auto& p : r.points) {
    if (!p.cutHappened || p.flash == vupdate::FlashAfterCut::kOld || p.flash == vupdate::FlashAfterCut::kNew)
      continue;
    if (first == nullptr || p.busOp < first->busOp) first = &p;
    if (last == nullptr || p.busOp > last->busOp) last = &p;
  }
  if (a.json) {
    nlohmann::json points = nlohmann::json::array();
    for (const auto& p : r.points) {
      points.push_back({{"phase", p.phase},
                        {"cut", p.cutHappened},
                        {"bus_op", p.busOp},
                        {"seconds", p.seconds},
                        {"flash", FlashName(p.flash)},
                        {"files_left", p.filesLeft},
                        {"retry_restored", p.retryRestored},
                        {"false_success", p.falseSuccess},
                        {"lost", p.Lost(r.updateFiles)}});
    }
    nlohmann::json window = nullptr;
    if (first != nullptr) {
      window = {{"first_op", first->busOp},
                {"last_op", last->busOp},
                {"first_seconds", first->seconds},
                {"last_seconds", last->seconds}};
    }
    std::cout << nlohmann::json{{"operations", r.operations},    {"seconds", r.seconds},
                                {"update_files", r.updateFiles}, {"points", points},
                                {"brick_window", window},        {"lost", r.lost}}
                     .dump(2)
              << "\n";
  } else {
    struct Row {
      std::size_t points = 0, old = 0, erased = 0, partial = 0, fresh = 0, kept = 0, restored = 0, lost = 0;
    };
    std::vector<std::pair<std::string, Row>> rows;
    std::size_t unreached = 0;
    for (const auto& p : r.points) {
      if (!p.cutHappened) {
        ++unreached;
        continue;
      }
      auto it = std::find_if(rows.begin(), rows.end(), [&](const auto& e) { return e.first == p.phase; });
      if (it == rows.end()) it = rows.insert(rows.end(), {p.phase, Row{}});
      Row& row = it->second;
      ++row.points;
      using F = vupdate::FlashAfterCut;
      (p.flash == F::kOld       ? row.old
       : p.flash == F::kErased  ? row.erased
       : p.flash == F::kPartial ? row.partial
                                : row.fresh)++;
      row.kept += p.filesLeft == r.updateFiles ? 1 : 0;
      row.restored += p.retryRestored ? 1 : 0;
      row.lost += p.Lost(r.updateFiles) ? 1 : 0;
    }
    std::printf("update: %llu bus operations, %.2f virtual seconds, %u update files\n",
                static_cast<unsigned long long>(r.operations), r.seconds, r.updateFiles);
    std::printf("%-20s %6s %5s %6s %7s %5s %10s %9s %5s\n", "phase", "points", "old", "erased", "partial",
                "new", "files kept", "restored", "lost");
    for (const auto& [phase, row] : rows) {
      std::printf("%-20s %6zu %5zu %6zu %7zu %5zu %10zu %9zu %5zu\n", phase.c_str(), row.points, row.old,
                  row.erased, row.partial, row.fresh, row.kept, row.restored, row.lost);
    }
    if (unreached != 0) std::printf("%zu points never reached: the update ended before them\n", unreached);
    if (first != nullptr) {
      std::printf("brick window: operations %llu to %llu, %.3f s to %.3f s (neither image in the flash)\n",
                  static_cast<unsigned long long>(first->busOp), static_cast<unsigned long long>(last->busOp),
                  first->seconds, last->seconds);
    }
    std::printf(r.lost ? "LOST: some cut loses the update\n" : "no cut loses the update\n");
  }
  return r.lost ? kExitFailed : kExitOk;
}

}  // namespace

void AddSweepCommand(CLI::App& app, int* exitCode) {
  auto args = std::make_shared<SweepArgs>();
  CLI::App* sweep = app.add_subcommand("sweep", "Cut the power at every chosen point of an update and retry");
  sweep->add_option("--card", args->card, "Card folder (read only)")->required();
  sweep->add_option("--camera", args->camera, "Camera profile (TOML)")->required();
  sweep->add_option("--flash", args->flash, "Flash ROM contents before the update (read only)")->required();
  sweep->add_option("--keys", args->keys, "Key script of the update");
  sweep->add_option("--points", args->points, "default, all, or a number of evenly spaced operations");
  sweep->add_option("--jobs", args->jobs, "Parallel jobs")->check(CLI::Range(1u, 64u));
  sweep->add_flag("--json", args->json, "JSON instead of the table");
  sweep->callback([args, exitCode] { *exitCode = Sweep(*args); });
}
