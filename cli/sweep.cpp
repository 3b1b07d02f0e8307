// vupdate sweep's runs: the uncut run, the cuts, the power-ups after them, in parallel processes.
#include "cli/sweep.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "cli/sweep_classes.h"
#include "cli/sweep_points.h"
#include "harness/runner.h"
#include "package/file_layout.h"
#include "package/update_set.h"
#include "sim/card_storage.h"
#include "sim/events.h"
#include "sim/flash.h"

namespace vupdate {

namespace fs = std::filesystem;
using At = sim::PowerCutPoint::At;

namespace {

struct CardImage {
  std::vector<std::string> folders;
  std::vector<std::pair<std::string, std::string>> files;

  std::shared_ptr<sim::MemoryCard> Make() const {
    auto card = std::make_shared<sim::MemoryCard>();
    for (const auto& f : folders) card->MakeFolder(f);
    for (const auto& [path, bytes] : files) card->Put(path, bytes);
    return card;
  }
  const std::string* File(const std::string& path) const {
    for (const auto& [p, bytes] : files) {
      if (p == path) return &bytes;
    }
    return nullptr;
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

// The card as a run left it, to start several power-ups from.
void Snapshot(const sim::MemoryCard& card, const std::string& folder, CardImage& image) {
  for (const std::string& name : card.List(folder).value_or(std::vector<std::string>{})) {
    std::string path = folder;
    if (!path.empty()) path += '/';
    path += name;
    if (card.Kind(path, false) == sim::CardEntry::kFolder) {
      image.folders.push_back(path);
      Snapshot(card, path, image);
    } else if (auto bytes = card.Get(path)) {
      image.files.emplace_back(path, std::move(*bytes));
    }
  }
}

// What the sweep watches on the card: where each read of a file fell, and the read at which the card leaves
// the slot. Below the camera's own fault layer, so it sees the reads that layer lets through.
struct CardWatch {
  struct Read {
    std::string file;
    std::uint64_t offset, length;
    bool afterErase;
  };
  const sim::Camera* camera = nullptr;
  std::function<void()> pull;  // takes the card out
  bool record = false;
  std::vector<Read> reads;
  std::string pullFile;
  std::uint64_t pullAtRead = 0;  // of pullFile; 0: never
  std::uint64_t pullFileReads = 0;
  std::uint64_t epoch = 0;  // moves on with every change of the card, and every attempt at one
};

class WatchedHandle final : public sim::CardHandle {
 public:
  WatchedHandle(std::unique_ptr<sim::CardHandle> inner, std::string path, std::shared_ptr<CardWatch> watch)
      : inner_(std::move(inner)), path_(std::move(path)), watch_(std::move(watch)) {}
  std::int64_t Read(void* buffer, std::size_t count) override {
    CardWatch& w = *watch_;
    if (w.pullAtRead != 0 && path_ == w.pullFile && ++w.pullFileReads == w.pullAtRead) {
      w.pull();
      return -1;
    }
    const std::int64_t got = inner_->Read(buffer, count);
    if (got > 0) {
      if (w.record) {
        w.reads.push_back({path_, position_, static_cast<std::uint64_t>(got), w.camera->FlashEraseBegan()});
      }
      position_ += static_cast<std::uint64_t>(got);
    }
    return got;
  }
  std::int64_t Write(const void* buffer, std::size_t count) override {
    const std::int64_t put = inner_->Write(buffer, count);
    ++watch_->epoch;
    if (put > 0) position_ += static_cast<std::uint64_t>(put);
    return put;
  }
  std::int64_t Seek(std::int64_t offset, int whence) override {
    const std::int64_t at = inner_->Seek(offset, whence);
    if (at >= 0) position_ = static_cast<std::uint64_t>(at);
    return at;
  }
  bool Close() override { return inner_->Close(); }

 private:
  std::unique_ptr<sim::CardHandle> inner_;
  std::string path_;
  std::shared_ptr<CardWatch> watch_;
  std::uint64_t position_ = 0;
};

class WatchedCard final : public sim::CardStorage {
 public:
  WatchedCard(std::shared_ptr<sim::CardStorage> inner, std::shared_ptr<CardWatch> watch)
      : inner_(std::move(inner)), watch_(std::move(watch)) {}
  bool Present() const override { return inner_->Present(); }
  bool Reaches(const std::string& path) const override { return inner_->Reaches(path); }
  sim::CardEntry Kind(const std::string& path, bool followLinks) const override {
    return inner_->Kind(path, followLinks);
  }
  std::unique_ptr<sim::CardHandle> Open(const std::string& path, sim::CardOpenMode mode) override {
    if (mode.write || mode.create || mode.truncate || mode.append) ++watch_->epoch;
    auto handle = inner_->Open(path, mode);
    if (!handle) return nullptr;
    return std::make_unique<WatchedHandle>(std::move(handle), path, watch_);
  }
  std::optional<std::vector<std::string>> List(const std::string& path) const override {
    return inner_->List(path);
  }
  bool Remove(const std::string& path) override {
    ++watch_->epoch;
    return inner_->Remove(path);
  }

 private:
  std::shared_ptr<sim::CardStorage> inner_;
  std::shared_ptr<CardWatch> watch_;
};

// One power-up of the camera: its profile (faults included) and the fault the sweep gives it on top.
struct PowerUp {
  sim::Profile profile;
  std::string keys;
  const RetryFault* fault = nullptr;
  const sweep::Landmarks* landmarks = nullptr;  // where the fault falls
  std::uint32_t updateKey = 0;                  // the key event that starts the installation (from 1)
  bool record = false;                          // the uncut run: bus operations and card reads
  std::optional<std::uint32_t> region;          // the EEPROM's, when an earlier power-up rewrote it
  // Called once the camera is set up, before the module starts.
  std::function<void(sim::Camera&, CardWatch&)> onCamera;
};

struct Run {
  harness::RunResult result;
  std::vector<std::uint8_t> flash;
  std::shared_ptr<sim::MemoryCard> card;
  std::vector<sim::FlashBus::BusOp> ops;
  std::vector<std::uint64_t> opNanoseconds;
  std::vector<CardWatch::Read> reads;
  std::uint32_t updateKey = 0;
  std::optional<std::uint32_t> region;  // the EEPROM's, for the next power-up
};

PowerUpTrace TraceOf(const Run& run) {
  return {.panel = run.result.finalPanel,
          .errCode = run.result.errCode,
          .busOps = run.result.flash ? run.result.flash->busOps : 0,
          .nanoseconds = static_cast<std::uint64_t>(std::llround(run.result.virtualSeconds * 1e9)),
          .powerCut = run.result.powerCut};
}

// The fault's share that the profile can say.
sim::Profile WithFault(sim::Profile p, const RetryFault& f) {
  using When = RetryFault::When;
  switch (f.kind) {
    case RetryFaultKind::kRead:
      p.faults.cardReadErrors.push_back(f.readError);
      break;
    case RetryFaultKind::kParam:
      p.faults.unreadableParams.push_back(f.parameter);
      break;
    case RetryFaultKind::kBattery:
      if (f.when == When::kPowerOn) p.faults.batteryAt.emplace_back(0, sweep::kLowBattery);
      break;
    case RetryFaultKind::kCard:
      if (f.when == When::kPowerOn) p.faults.cardPulledAtNs = 0;
      break;
    case RetryFaultKind::kCut:
      p.faults.powerCut = f.cut;
      break;
  }
  return p;
}

Run RunOnce(const PowerUp& up, std::shared_ptr<sim::MemoryCard> card,
            const std::vector<std::uint8_t>& flash) {
  using When = RetryFault::When;
  const RetryFault* f = up.fault;
  const bool pullLater = f != nullptr && f->kind == RetryFaultKind::kCard && f->when != When::kPowerOn;
  const bool batteryAtKey =
      f != nullptr && f->kind == RetryFaultKind::kBattery && f->when == When::kUpdateKey;

  auto watch = std::make_shared<CardWatch>();
  watch->record = up.record;
  sim::CameraOptions options;
  options.profile = f != nullptr ? WithFault(up.profile, *f) : up.profile;
  if (up.region) options.profile.region = up.region;
  options.cardStorage = std::make_shared<WatchedCard>(card, watch);
  options.keys = batteryAtKey ? "" : up.keys;  // the script comes step by step, to catch the Update key
  options.drawPixels = false;  // what a cut leaves is in the flash and on the card, not on the screen
  options.cardMayBePulled = pullLater;
  sim::Camera camera(std::move(options));
  watch->camera = &camera;
  watch->pull = [&camera] { camera.PullCardNow(); };
  camera.flash().Preload(0, flash);
  camera.flash().Record(up.record);
  if (up.onCamera) up.onCamera(camera, *watch);

  Run run;
  std::vector<sim::ScriptStep> script;
  std::size_t next = 0;
  std::uint32_t events = 0;
  if (batteryAtKey) {
    script = sim::ParseKeyScript(up.keys);
    camera.events().SetLiveSource([&]() -> std::optional<sim::ScriptStep> {
      if (next == script.size()) return std::nullopt;
      const sim::ScriptStep& step = script[next++];
      const bool event =
          step.kind == sim::ScriptStep::Kind::kKey || step.kind == sim::ScriptStep::Kind::kEvent4;
      if (event && ++events == up.updateKey) camera.BatteryFallsTo(sweep::kLowBattery);
      return step;
    });
  }
  if (pullLater && f->when == When::kVerification) {
    watch->pullFile = up.landmarks->codeFile;
    watch->pullAtRead = std::max<std::uint64_t>(1, (up.landmarks->verificationReads + 1) / 2);
  }
  bool pulled = false;
  if (pullLater && (f->when == When::kErase || f->when == When::kProgramming)) {
    const std::uint64_t half = std::max<std::uint64_t>(1, (up.landmarks->words + 1) / 2);
    camera.clock().SetOnAdvance([&, when = f->when](std::uint64_t) {
      const sim::FlashBus::Counters c = camera.flash().counters();
      if (!pulled && (when == When::kErase ? c.erases > 0 : c.wordsProgrammed >= half)) {
        pulled = true;
        camera.PullCardNow();
      }
    });
  }
  if (up.record) {
    // Once the flash is touched, the key that started the installation has been delivered.
    camera.clock().SetOnAdvance([&](std::uint64_t) {
      if (run.updateKey == 0 && camera.flash().counters().busOps > 0)
        run.updateKey = static_cast<std::uint32_t>(camera.events().delivered());
    });
  }

  run.result = harness::RunModule(camera);
  camera.clock().SetOnAdvance(nullptr);
  camera.events().SetLiveSource(nullptr);
  auto cells = camera.flash().contents();
  run.flash.assign(cells.begin(), cells.end());
  run.card = std::move(card);
  run.region = run.result.eepromRegion ? run.result.eepromRegion : up.region;
  if (up.record) {
    run.ops = camera.flash().recorded();
    run.opNanoseconds = camera.flash().recordedNanoseconds();
    run.reads = std::move(watch->reads);
  }
  return run;
}

// Everything the jobs share, set up before they start.
struct Plan {
  const SweepOptions& o;
  CardImage card;
  std::vector<std::uint8_t> old, fresh;
  std::vector<std::string> updateFiles;
  sweep::Landmarks landmarks;
  std::uint32_t updateKey = 0;
  struct CutState {
    CardImage card;
    std::vector<std::uint8_t> flash;
    std::optional<std::uint32_t> region;
  };
  std::vector<CutState> crossStates;  // one per cross cut

  Held HeldBy(const Run& run) const {
    Held h{harness::ClassifyFlash(run.flash, old, fresh), 0};
    for (const auto& f : updateFiles) h.filesLeft += run.card->Get(f).has_value() ? 1 : 0;
    return h;
  }
  bool FalseSuccess(const Run& run) const {
    return run.result.finalPanel == kSuccessPanel && run.flash != fresh;
  }
  // A retry that is no clean power-up needs one after it.
  bool RetryDiffers() const { return o.profile.retry.has_value() || o.retryKeys.has_value(); }
  PowerUp First(sim::PowerCutPoint cut) const {
    PowerUp up{.profile = o.profile, .keys = o.keys};
    up.profile.faults.powerCut = cut;
    return up;
  }
  PowerUp Clean(const Run& before) const {
    PowerUp up{.profile = o.profile, .keys = o.keys, .region = before.region};
    up.profile.faults = {};
    up.profile.retry.reset();
    return up;
  }
  PowerUp Retry(const RetryFault* fault, std::optional<std::uint32_t> region) const {
    return {.profile = sim::RetryOf(o.profile),
            .keys = o.retryKeys.value_or(o.keys),
            .fault = fault,
            .landmarks = &landmarks,
            .updateKey = updateKey,
            .region = region};
  }
};

// What a job sends back for one point or one (cut, fault) pair.
struct Record {
  std::uint32_t index;
  std::uint8_t cross, cutHappened, flash, retryRestored, falseSuccess, cleanRun, retryFlash, cleanFlash;
  std::uint8_t retryCut;
  std::uint32_t filesLeft, retryFiles, cleanFiles;
  std::int32_t retryPanel, cleanPanel;
  PowerUpTrace retryTrace, cleanTrace;
  std::uint64_t busOp;
  double seconds;
};

void SweepPointJob(const Plan& plan, const SweepPoint& p, Record& r, const RetryFault* fault = nullptr) {
  Run cut = RunOnce(plan.First(p.cut), plan.card.Make(), plan.old);
  r.cutHappened = cut.result.powerCut;
  r.busOp = cut.result.cutAt.busOp;
  r.seconds = cut.result.cutAt.virtualSeconds;
  const Held afterCut = plan.HeldBy(cut);
  r.flash = static_cast<std::uint8_t>(afterCut.flash);
  r.filesLeft = afterCut.filesLeft;
  bool falseSuccess = !cut.result.powerCut && plan.FalseSuccess(cut);
  // The owner starts the updater again from the card, on the camera as the cut left it.
  Run retry = RunOnce(plan.Retry(fault, cut.region), cut.card, cut.flash);
  r.retryTrace = TraceOf(retry);
  falseSuccess = falseSuccess || plan.FalseSuccess(retry);
  r.retryRestored = retry.flash == plan.fresh;
  const Held afterRetry = plan.HeldBy(retry);
  r.retryFlash = static_cast<std::uint8_t>(afterRetry.flash);
  r.retryFiles = afterRetry.filesLeft;
  r.retryPanel = retry.result.finalPanel;
  if (plan.RetryDiffers() || fault != nullptr) {
    // The retry met faults or keys of its own: a clean power-up must still end with the new image.
    Run clean = RunOnce(plan.Clean(retry), retry.card, retry.flash);
    r.cleanTrace = TraceOf(clean);
    falseSuccess = falseSuccess || plan.FalseSuccess(clean);
    const Held afterClean = plan.HeldBy(clean);
    r.cleanRun = 1;
    r.cleanFlash = static_cast<std::uint8_t>(afterClean.flash);
    r.cleanFiles = afterClean.filesLeft;
    r.cleanPanel = clean.result.finalPanel;
  }
  r.falseSuccess = falseSuccess;
}

void RetryFaultJob(const Plan& plan, const RetryFault& fault, const Plan::CutState& state, Record& r) {
  Run retry = RunOnce(plan.Retry(&fault, state.region), state.card.Make(), state.flash);
  const Held afterRetry = plan.HeldBy(retry);  // before the clean power-up changes the card
  r.retryFlash = static_cast<std::uint8_t>(afterRetry.flash);
  r.retryFiles = afterRetry.filesLeft;
  r.retryPanel = retry.result.finalPanel;
  r.retryCut = retry.result.powerCut;
  Run clean = RunOnce(plan.Clean(retry), retry.card, retry.flash);
  const Held afterClean = plan.HeldBy(clean);
  r.cleanFlash = static_cast<std::uint8_t>(afterClean.flash);
  r.cleanFiles = afterClean.filesLeft;
  r.cleanPanel = clean.result.finalPanel;
  r.falseSuccess = plan.FalseSuccess(retry) || plan.FalseSuccess(clean);
}

void Store(const Record& r, SweepResult& out) {
  if (r.cross != 1) {
    SweepPoint& p = r.cross == 0 ? out.points[r.index] : out.faultChecks[r.index].point;
    p.cutHappened = r.cutHappened != 0;
    p.busOp = r.busOp;
    p.seconds = r.seconds;
    p.flash = static_cast<FlashAfterCut>(r.flash);
    p.filesLeft = r.filesLeft;
    p.retryRestored = r.retryRestored != 0;
    p.falseSuccess = r.falseSuccess != 0;
    p.afterRetry = {static_cast<FlashAfterCut>(r.retryFlash), r.retryFiles};
    p.cleanRun = r.cleanRun != 0;
    p.afterClean = {static_cast<FlashAfterCut>(r.cleanFlash), r.cleanFiles};
    p.retryTrace = r.retryTrace;
    p.cleanTrace = r.cleanTrace;
    return;
  }
  RetryOutcome& x = out.retryOutcomes[r.index];
  x.afterRetry = {static_cast<FlashAfterCut>(r.retryFlash), r.retryFiles};
  x.afterClean = {static_cast<FlashAfterCut>(r.cleanFlash), r.cleanFiles};
  x.retryPanel = r.retryPanel;
  x.cleanPanel = r.cleanPanel;
  x.retryCut = r.retryCut != 0;
  x.falseSuccess = r.falseSuccess != 0;
}

// The new image is the code file's that the module itself chose; nothing when the file cannot define one.
std::optional<std::vector<std::uint8_t>> ImageOf(const std::string& bytes, sweep::Landmarks& l) {
  if (bytes.size() < kFileHeaderSize) return std::nullopt;
  std::uint8_t raw[kFileHeaderSize];
  std::copy_n(reinterpret_cast<const std::uint8_t*>(bytes.data()), kFileHeaderSize, raw);
  const UpdateFileHeader header = DecodeFileHeader(raw);
  if (header.headerSize < kFileHeaderSize || header.trailerOffset < header.headerSize ||
      header.trailerOffset > bytes.size() || header.trailerOffset - header.headerSize > sim::kFlashBusSize) {
    return std::nullopt;
  }
  l.headerSize = header.headerSize;
  l.trailerOffset = header.trailerOffset;
  l.fileSize = bytes.size();
  std::vector<std::uint8_t> image(sim::kFlashBusSize, 0xFF);
  std::copy(bytes.begin() + header.headerSize, bytes.begin() + header.trailerOffset, image.begin());
  return image;
}

// Runs the work items over `jobs` processes: each is a process of its own, since the module's globals are the
// camera's, one camera at a time.
void RunJobs(const Plan& plan, SweepResult& out, unsigned jobs) {
  const std::size_t items = out.points.size() + out.retryOutcomes.size() + out.faultChecks.size();
  jobs = std::max(1u, std::min<unsigned>(jobs, static_cast<unsigned>(std::max<std::size_t>(items, 1))));
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
      try {
        for (std::size_t i = j; i < items; i += jobs) {
          Record r{};
          if (i < out.points.size()) {
            r.index = static_cast<std::uint32_t>(i);
            SweepPointJob(plan, out.points[i], r);
          } else if (i < out.points.size() + out.retryOutcomes.size()) {
            r.index = static_cast<std::uint32_t>(i - out.points.size());
            r.cross = 1;
            const RetryOutcome& x = out.retryOutcomes[r.index];
            RetryFaultJob(plan, out.retryFaults[x.fault], plan.crossStates[x.cut], r);
          } else {
            r.index = static_cast<std::uint32_t>(i - out.points.size() - out.retryOutcomes.size());
            r.cross = 2;
            const SweepResult::FaultCheck& check = out.faultChecks[r.index];
            SweepPointJob(plan, check.point, r, &out.retryFaults[check.fault]);
          }
          if (::write(fds[1], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) ::_exit(1);
        }
      } catch (const std::exception&) {
        ::_exit(1);
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
      Store(r, out);
      ++done;
      if (plan.o.progress) {
        const std::size_t width = 40, filled = done * width / items;
        std::fprintf(stderr, "\r[%s%s] %zu/%zu", std::string(filled, '#').c_str(),
                     std::string(width - filled, '.').c_str(), done, items);
      }
    }
    ::close(fd);
  }
  if (plan.o.progress) std::fprintf(stderr, "\n");
  bool childFailed = false;
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    childFailed = childFailed || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
  }
  if (out.error.empty() && (childFailed || done != items)) out.error = "a sweep job failed";
}

// Moves all `size` bytes through a pipe, however the kernel splits them; false on an error or its end.
template <typename Byte, typename Call>
bool Transfer(Call call, int fd, Byte* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t moved = call(fd, bytes, size);
    if (moved <= 0) return false;
    bytes += moved;
    size -= static_cast<std::size_t>(moved);
  }
  return true;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  return Transfer(::write, fd, static_cast<const char*>(data), size);
}

bool ReadAll(int fd, void* data, std::size_t size) {
  return Transfer(::read, fd, static_cast<char*>(data), size);
}

// A class as its founding job sends it back: the fixed part, then the dependencies.
struct ClassWire {
  PowerUpTrace retry, clean;
  std::uint8_t cleanRun;
  std::uint32_t retryFiles, cleanFiles;
  sweep::FlashFate retryFate, cleanFate;
  std::uint64_t runs, dependencies;
};

// The power-ups after one cut state, watched by a taint: what they did and what of the state they read. A
// retry that meets a fault, or faults or keys of its own, is followed by a clean power-up.
sweep::CutClass RunClass(const Plan& plan, const Run& cut, const RetryFault* fault) {
  sweep::Taint taint;
  auto watch = [&taint](sim::Camera& camera, CardWatch&) {
    // Only a power-up that starts where every other starts can stand for them.
    if (camera.clock().Nanoseconds() != 0) throw std::logic_error("a power-up does not start its clock at 0");
    taint.Attach(camera.flash().contents());
    camera.flash().Observe(&taint);
  };
  sweep::CutClass c;
  PowerUp retryUp = plan.Retry(fault, cut.region);
  retryUp.onCamera = watch;
  Run retry = RunOnce(retryUp, cut.card, cut.flash);
  c.retry = TraceOf(retry);
  c.retryFiles = plan.HeldBy(retry).filesLeft;
  c.retryFate = taint.Fate(retry.flash, plan.old, plan.fresh);
  if (plan.RetryDiffers() || fault != nullptr) {
    PowerUp cleanUp = plan.Clean(retry);
    cleanUp.onCamera = watch;
    Run clean = RunOnce(cleanUp, retry.card, retry.flash);
    c.cleanRun = true;
    c.clean = TraceOf(clean);
    c.cleanFiles = plan.HeldBy(clean).filesLeft;
    c.cleanFate = taint.Fate(clean.flash, plan.old, plan.fresh);
  }
  c.deps = taint.Read();
  return c;
}

bool SameVerdict(const SweepPoint& a, const SweepPoint& b) {
  return a.phase == b.phase && a.cutHappened == b.cutHappened && a.flash == b.flash &&
         a.filesLeft == b.filesLeft && a.retryRestored == b.retryRestored &&
         a.falseSuccess == b.falseSuccess && a.cleanRun == b.cleanRun &&
         a.afterRetry.flash == b.afterRetry.flash && a.afterRetry.filesLeft == b.afterRetry.filesLeft &&
         a.afterClean.flash == b.afterClean.flash && a.afterClean.filesLeft == b.afterClean.filesLeft &&
         a.retryTrace == b.retryTrace && a.cleanTrace == b.cleanTrace;
}

// What the power-ups after a cut are: a plain retry, or one meeting a retry fault; each has classes of its
// own.
struct Sequence {
  const RetryFault* fault;
  sweep::ClassTable table;
  std::vector<SweepResult::PointRange>* ranges;
  std::optional<std::uint32_t> last;  // the class of the last state: the likeliest for the next
};

// The uncut run once more, stopping at every bus operation to class the state a cut there leaves. A state no
// class knows is cut for real in a child process (a fork at that operation is that state exactly), whose
// power-ups found a new class.
class Walk final : public sim::FlashObserver {
 public:
  Walk(const Plan& plan, const std::vector<Phase>& phases, SweepResult& out) : plan_(plan), phases_(phases) {
    sequences_.push_back({nullptr, {plan.old, plan.fresh, plan.o.keyFault}, &out.ranges, std::nullopt});
    out.faultSweeps.resize(out.retryFaults.size());
    for (std::size_t f = 0; f < out.retryFaults.size(); ++f) {
      sequences_.push_back({&out.retryFaults[f],
                            {plan.old, plan.fresh, plan.o.keyFault},
                            &out.faultSweeps[f].ranges,
                            std::nullopt});
    }
  }

  void Start(sim::Camera& camera, CardWatch& watch) {
    camera_ = &camera;
    watch_ = &watch;
    sums_.Reset(camera.flash().contents(), plan_.old, plan_.fresh);
    for (Sequence& s : sequences_) s.table.Attach(camera.flash().contents(), &sums_);
    camera.flash().Observe(this);
    camera.flash().WatchEveryOp();
  }
  bool child() const { return childFd_ >= 0; }
  int childFd() const { return childFd_; }
  const RetryFault* childFault() const { return sequences_[childSequence_].fault; }
  const std::string& error() const { return error_; }
  const std::vector<Sequence>& sequences() const { return sequences_; }
  void SetCard(const sim::MemoryCard* card) { card_ = card; }

  bool OpBegins(std::uint64_t op) override {
    if (!error_.empty()) return false;
    if (watch_->epoch != epoch_ || !counted_) {
      epoch_ = watch_->epoch;
      counted_ = true;
      filesLeft_ = 0;
      for (const auto& f : plan_.updateFiles) filesLeft_ += card_->Get(f).has_value() ? 1 : 0;
    }
    const std::optional<std::uint32_t> region = camera_->eepromRegion;
    seen_.resize(sequences_.size());
    double seconds = 0;
    std::vector<std::size_t> unknown;
    camera_->flash().PreviewCut([&](const sim::CutPreview& p) {
      seconds = static_cast<double>(p.nanoseconds) / 1e9;
      for (std::size_t i = 0; i < sequences_.size(); ++i) {
        seen_[i] = sequences_[i].table.Look(p, epoch_, region, sequences_[i].last);
        if (!seen_[i].cutClass) unknown.push_back(i);
      }
    });
    if (!unknown.empty()) {
      std::vector<std::optional<sweep::CutClass>> found = Found(unknown);
      if (child()) return true;
      if (!error_.empty()) return false;
      camera_->flash().PreviewCut([&](const sim::CutPreview& p) {
        for (std::size_t k = 0; k < unknown.size(); ++k) {
          Sequence& s = sequences_[unknown[k]];
          sweep::CutClass& c = *found[k];
          c.cardEpoch = epoch_;
          c.region = region;
          c.founder = op;
          const std::uint32_t added = s.table.Add(std::move(c), p);
          seen_[unknown[k]] = s.table.Look(p, epoch_, region, added);
          if (!seen_[unknown[k]].cutClass) {
            if (s.table.classes().back().Shareable()) error_ = "a cut state does not answer its own class";
            // The power-ups left cells the class cannot tell apart: this state has its own verdict.
            seen_[unknown[k]].cutClass = added;
          }
        }
      });
      if (!error_.empty()) return false;
    }
    const Phase phase = op - 1 < phases_.size() ? phases_[op - 1] : Phase::kAfterProgramming;
    for (std::size_t i = 0; i < sequences_.size(); ++i) {
      Sequence& s = sequences_[i];
      const std::uint32_t cls = *seen_[i].cutClass;
      s.last = cls;
      ++s.table.classes()[cls].points;
      SweepPoint p = s.table.Verdict(seen_[i], filesLeft_);
      p.cut = {sim::PowerCutPoint::At::kBusOp, op};
      p.phase = phase;
      p.busOp = op;
      p.seconds = seconds;
      auto& ranges = *s.ranges;
      if (!ranges.empty() && ranges.back().lastOp + 1 == op && ranges.back().cutClass == cls &&
          SameVerdict(ranges.back().point, p)) {
        ranges.back().lastOp = op;
      } else {
        ranges.push_back({p, op, cls});
      }
    }
    return false;
  }
  void CellsRead(std::uint32_t, std::uint32_t) override {}
  void CellsChanging(std::uint32_t offset, std::uint32_t length, bool erase) override {
    sums_.Changing(offset, length);
    for (Sequence& s : sequences_) s.table.CellsChanging(offset, length, erase);
  }
  void CellsChanged(std::uint32_t offset, std::uint32_t length) override {
    sums_.Changed(offset, length);
    for (Sequence& s : sequences_) s.table.CellsChanged(offset, length);
  }

 private:
  // Forks a child for each sequence without a class, `jobs` at a time: each child goes on to be cut here; the
  // parent waits for the classes their power-ups found.
  std::vector<std::optional<sweep::CutClass>> Found(const std::vector<std::size_t>& unknown) {
    std::vector<std::optional<sweep::CutClass>> found(unknown.size());
    const std::size_t jobs = std::max(1u, plan_.o.jobs);
    for (std::size_t from = 0; from < unknown.size() && error_.empty(); from += jobs) {
      std::vector<std::pair<pid_t, int>> children;
      for (std::size_t k = from; k < std::min(unknown.size(), from + jobs); ++k) {
        int fds[2];
        if (::pipe(fds) != 0) {
          error_ = "cannot start a job";
          break;
        }
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
          ::close(fds[0]);
          for (const auto& [other, fd] : children) ::close(fd);
          childFd_ = fds[1];
          childSequence_ = unknown[k];
          return {};
        }
        ::close(fds[1]);
        if (pid < 0) {
          ::close(fds[0]);
          error_ = "cannot start a job";
          break;
        }
        children.emplace_back(pid, fds[0]);
      }
      for (std::size_t c = 0; c < children.size(); ++c) {
        const auto [pid, fd] = children[c];
        std::optional<sweep::CutClass>& out = found[from + c];
        ClassWire wire{};
        if (ReadAll(fd, &wire, sizeof wire)) {
          out.emplace();
          out->retry = wire.retry;
          out->clean = wire.clean;
          out->cleanRun = wire.cleanRun != 0;
          out->retryFiles = wire.retryFiles;
          out->cleanFiles = wire.cleanFiles;
          out->retryFate = wire.retryFate;
          out->cleanFate = wire.cleanFate;
          out->deps.runs.resize(wire.runs);
          out->deps.values.resize(wire.dependencies);
          if (!ReadAll(fd, out->deps.runs.data(), out->deps.runs.size() * sizeof(sweep::Dependencies::Run)) ||
              !ReadAll(fd, out->deps.values.data(), out->deps.values.size()) ||
              (!out->deps.runs.empty() &&
               out->deps.runs.back().first + std::uint64_t{out->deps.runs.back().length} !=
                   wire.dependencies)) {
            out.reset();
          }
        }
        ::close(fd);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!out || !WIFEXITED(status) || WEXITSTATUS(status) != 0) error_ = "a sweep job failed";
      }
    }
    return found;
  }

  const Plan& plan_;
  const std::vector<Phase>& phases_;
  std::vector<Sequence> sequences_;
  sweep::CellDiffs sums_;
  std::vector<sweep::ClassTable::Seen> seen_;
  sim::Camera* camera_ = nullptr;
  CardWatch* watch_ = nullptr;
  const sim::MemoryCard* card_ = nullptr;
  std::uint64_t epoch_ = 0;
  bool counted_ = false;
  std::uint32_t filesLeft_ = 0;
  int childFd_ = -1;
  std::size_t childSequence_ = 0;
  std::string error_;
};

// The child's part of Walk::Found, once its run has been cut: the class, down the pipe.
[[noreturn]] void FinishFounder(const Plan& plan, const Run& cut, int fd, const RetryFault* fault) {
  try {
    const sweep::CutClass c = RunClass(plan, cut, fault);
    const ClassWire wire{.retry = c.retry,
                         .clean = c.clean,
                         .cleanRun = c.cleanRun ? std::uint8_t{1} : std::uint8_t{0},
                         .retryFiles = c.retryFiles,
                         .cleanFiles = c.cleanFiles,
                         .retryFate = c.retryFate,
                         .cleanFate = c.cleanFate,
                         .runs = c.deps.runs.size(),
                         .dependencies = c.deps.size()};
    if (WriteAll(fd, &wire, sizeof wire) &&
        WriteAll(fd, c.deps.runs.data(), c.deps.runs.size() * sizeof(sweep::Dependencies::Run)) &&
        WriteAll(fd, c.deps.values.data(), c.deps.values.size())) {
      ::_exit(0);
    }
  } catch (const std::exception&) {
  }
  ::_exit(1);
}

std::vector<SweepResult::ClassSummary> Summaries(const sweep::ClassTable& table) {
  std::vector<SweepResult::ClassSummary> out;
  for (const sweep::CutClass& c : table.classes()) {
    out.push_back({.founder = c.founder,
                   .points = c.points,
                   .dependencies = c.deps.size(),
                   .shareable = c.Shareable()});
  }
  return out;
}

// Every bus operation of the update classed, for the plain retry and for each retry fault.
void WalkEveryOperation(const Plan& plan, const std::vector<Phase>& phases, std::uint64_t operations,
                        const std::vector<std::uint8_t>& uncutFlash, SweepResult& out) {
  Walk walk(plan, phases, out);
  std::shared_ptr<sim::MemoryCard> card = plan.card.Make();
  walk.SetCard(card.get());
  PowerUp up = plan.First({});
  up.onCamera = [&walk](sim::Camera& camera, CardWatch& watch) { walk.Start(camera, watch); };
  Run run = RunOnce(up, card, plan.old);
  if (walk.child()) FinishFounder(plan, run, walk.childFd(), walk.childFault());
  if (!walk.error().empty()) {
    out.error = walk.error();
    return;
  }
  // The walk is the recorded run once more, or the reduction stands on nothing.
  if (run.result.powerCut || !run.result.flash || run.result.flash->busOps != operations ||
      run.flash != uncutFlash) {
    out.error = "the update did not repeat itself operation for operation; the camera is not deterministic";
    return;
  }
  out.classes = Summaries(walk.sequences()[0].table);
  for (std::size_t f = 0; f < out.faultSweeps.size(); ++f)
    out.faultSweeps[f].classes = Summaries(walk.sequences()[f + 1].table);
}

std::string Describe(const SweepPoint& p, std::uint32_t updateFiles) {
  auto held = [](const Held& h) {
    static constexpr const char* kFlash[] = {"old", "erased", "partial", "new"};
    return std::string(kFlash[static_cast<int>(h.flash)]) + "/" + std::to_string(h.filesLeft);
  };
  auto trace = [](const PowerUpTrace& t) {
    return "panel " + std::to_string(t.panel) + " err " + std::to_string(t.errCode) + " " +
           std::to_string(t.busOps) + " ops " + std::to_string(t.nanoseconds) + " ns" +
           (t.powerCut ? " cut" : "");
  };
  std::string text = "cut " + held({p.flash, p.filesLeft}) + ", retry " + held(p.afterRetry) + " (" +
                     trace(p.retryTrace) + ")";
  if (p.cleanRun) text += ", clean " + held(p.afterClean) + " (" + trace(p.cleanTrace) + ")";
  if (p.falseSuccess) text += ", false success";
  return text + (p.Lost(updateFiles) ? ", lost" : "");
}

// Every point run for real against the verdict its class gave it.
void CrossCheck(SweepResult& out) {
  auto check = [&out](const SweepPoint& p, const std::vector<SweepResult::PointRange>& ranges,
                      const std::string& what) {
    const auto it = std::upper_bound(ranges.begin(), ranges.end(), p.cut.value,
                                     [](std::uint64_t op, const auto& r) { return op < r.point.busOp; });
    ++out.verified;
    const std::string at = "operation " + std::to_string(p.cut.value) + what;
    if (it == ranges.begin() || std::prev(it)->lastOp < p.cut.value) {
      out.disagreements.push_back(at + ": no class");
      return;
    }
    const SweepPoint& q = std::prev(it)->point;
    if (!p.cutHappened || !SameVerdict(p, q) || p.Lost(out.updateFiles) != q.Lost(out.updateFiles)) {
      out.disagreements.push_back(at + ": run " + Describe(p, out.updateFiles) + "; class " +
                                  std::to_string(std::prev(it)->cutClass) + " " +
                                  Describe(q, out.updateFiles));
    }
  };
  for (const SweepPoint& p : out.points) {
    if (p.cut.at == At::kBusOp) check(p, out.ranges, "");
  }
  for (const SweepResult::FaultCheck& c : out.faultChecks)
    check(c.point, out.faultSweeps[c.fault].ranges, ", " + out.retryFaults[c.fault].name);
}
}  // namespace

SweepResult RunSweep(const SweepOptions& o) {
  SweepResult out;
  if (auto problem = CheckPoints(o.points)) {
    out.error = *problem;
    return out;
  }
  if (auto problem = CheckRetryFaults(o.retryFaults)) {
    out.error = *problem;
    return out;
  }
  std::error_code ec;
  if (!fs::is_directory(o.card, ec)) {
    out.error = "card folder '" + o.card.string() + "' does not exist or is not a folder";
    return out;
  }
  Plan plan{.o = o, .card = ReadCard(o.card)};
  plan.old.resize(sim::kFlashBusSize);
  const std::uintmax_t flashSize = fs::exists(o.flash, ec) ? fs::file_size(o.flash, ec) : 0;
  if (flashSize != 0) {
    std::ifstream in(o.flash, std::ios::binary);
    in.read(reinterpret_cast<char*>(plan.old.data()), static_cast<std::streamsize>(plan.old.size()));
    if (!in || flashSize != sim::kFlashBusSize) {
      out.error = "flash file '" + o.flash.string() + "' must hold exactly " +
                  std::to_string(sim::kFlashBusSize) + " bytes, or nothing";
      return out;
    }
  } else {
    sim::FlashBus::FillOldFirmware(plan.old);
  }

  // The uncut run says which code file the camera takes, and whether it installs it at all.
  Run reference;
  try {
    PowerUp uncut = plan.First({});
    uncut.record = true;
    reference = RunOnce(uncut, plan.card.Make(), plan.old);
  } catch (const std::exception& e) {
    out.error = std::string("the update could not run: ") + e.what();
    return out;
  }
  out.codeFile = reference.result.codeFile;
  out.panel = reference.result.finalPanel;
  if (!reference.result.logLines.empty()) out.firstLogLine = reference.result.logLines.front();
  if (!reference.result.error.empty()) out.firstLogLine = "the run stopped: " + reference.result.error;
  out.operations = reference.ops.size();
  out.seconds = reference.result.virtualSeconds;
  sweep::Landmarks& l = plan.landmarks;
  l.codeFile = out.codeFile;
  const std::string* codeBytes = out.codeFile.empty() ? nullptr : plan.card.File(out.codeFile);
  if (auto image = codeBytes != nullptr ? ImageOf(*codeBytes, l) : std::nullopt)
    plan.fresh = std::move(*image);
  out.installed = !plan.fresh.empty() && reference.flash == plan.fresh && reference.result.error.empty();
  if (!out.installed) return out;

  for (const std::string_view drivePath : {kCamFilePath, kFontFilePath}) {
    const std::string path(OnCard(drivePath));
    if (plan.card.File(path) != nullptr) plan.updateFiles.push_back(path);
  }
  plan.updateFiles.push_back(out.codeFile);
  out.updateFiles = static_cast<std::uint32_t>(plan.updateFiles.size());
  for (const CardWatch::Read& read : reference.reads) {
    if (read.file != l.codeFile) continue;
    l.codeReads.emplace_back(read.offset, read.length);
    l.verificationReads += read.afterErase ? 0 : 1;
  }
  l.words = reference.result.flash ? reference.result.flash->wordsProgrammed : 0;
  plan.updateKey = reference.updateKey;
  out.brickWindow = sweep::FindBrickWindow(reference.ops, reference.opNanoseconds);
  const bool reduced = o.points == "all" && o.reduce;
  out.retryFaults = sweep::MakeRetryFaults(o.retryFaults, l);
  {
    const std::vector<Phase> phases = sweep::Phases(reference.ops);
    out.points = !reduced || o.verifyClasses ? sweep::ChoosePoints(o.points, reference.ops, phases)
                                             : sweep::CardPoints();
    if (reduced && o.verifyClasses && !out.retryFaults.empty()) {
      // Every fault after each default point, run for real: every point would be too many runs for a check.
      for (const SweepPoint& p : sweep::ChoosePoints("default", reference.ops, phases)) {
        if (p.cut.at != At::kBusOp) continue;
        for (std::uint32_t f = 0; f < out.retryFaults.size(); ++f) out.faultChecks.push_back({p, f});
      }
    }
    const std::vector<std::uint8_t> uncutFlash = std::move(reference.flash);
    reference = {};  // a large update's recording is hundreds of megabytes: the jobs need none of it
    if (reduced) {
      if (o.progress)
        std::fprintf(stderr, "classing the cut states of %llu bus operations\n",
                     static_cast<unsigned long long>(out.operations));
      WalkEveryOperation(plan, phases, out.operations, uncutFlash, out);
      if (!out.error.empty()) return out;
    }
  }

  // Each cut that retry faults are crossed with runs once; every fault starts from what it left. With the
  // classes, every bus operation's cut has met every fault already: only the card's cuts are left.
  if (!out.retryFaults.empty()) {
    out.crossCuts = sweep::CrossCuts(l.words);
    if (reduced) {
      std::erase_if(out.crossCuts, [](const CrossCut& c) {
        return c.cut.at != At::kBetweenDeletes && c.cut.at != At::kLogWrite && c.cut.at != At::kBeforeDelete;
      });
    }
    for (std::uint32_t c = 0; c < out.crossCuts.size(); ++c) {
      CrossCut& cut = out.crossCuts[c];
      Run run = RunOnce(plan.First(cut.cut), plan.card.Make(), plan.old);
      cut.reached = run.result.powerCut;
      cut.afterCut = plan.HeldBy(run);
      Plan::CutState& state = plan.crossStates.emplace_back();
      state.flash = std::move(run.flash);
      state.region = run.region;
      Snapshot(*run.card, "", state.card);
      if (!cut.reached) continue;
      for (std::uint32_t f = 0; f < out.retryFaults.size(); ++f)
        out.retryOutcomes.push_back({.cut = c, .fault = f});
    }
  }
  if (o.progress) {
    const std::size_t runs = out.points.size() * (plan.RetryDiffers() ? 3 : 2) + out.retryOutcomes.size() * 2;
    std::fprintf(stderr, "sweeping %zu cut points", out.points.size());
    if (!out.retryOutcomes.empty())
      std::fprintf(stderr, " and %zu cut and retry fault pairs", out.retryOutcomes.size());
    std::fprintf(stderr, ": %zu runs\n", runs);
  }
  RunJobs(plan, out, o.jobs);
  if (reduced && o.verifyClasses) CrossCheck(out);
  for (const SweepPoint& p : out.points) out.lost = out.lost || p.Lost(out.updateFiles);
  for (const auto& range : out.ranges) out.lost = out.lost || range.point.Lost(out.updateFiles);
  for (const auto& sweep : out.faultSweeps) {
    for (const auto& range : sweep.ranges) out.lost = out.lost || range.point.Lost(out.updateFiles);
  }
  for (const RetryOutcome& x : out.retryOutcomes) out.lost = out.lost || x.Lost();
  return out;
}

}  // namespace vupdate
