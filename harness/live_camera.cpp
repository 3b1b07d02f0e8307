// The live camera: one module run per power-on, on its own thread, paced against real time.
#include "harness/live_camera.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

#include "app/panel.h"
#include "harness/flash_contents.h"
#include "harness/runner.h"
#include "package/file_set.h"
#include "panels/panels.h"
#include "platform/events.h"
#include "services/power.h"
#include "sim/camera.h"
#include "sim/events.h"

namespace harness {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kSnapshotEvery = 100ms;
// While nobody presses a key the module waits in the event manager; it looks again this often.
constexpr auto kIdleSlice = 50ms;
// When the host cannot keep up (a fast speed, a busy machine) the clock does not rush to catch up later.
constexpr auto kLagForgiven = 200ms;
constexpr auto kSleepAtLeast = 2ms;

std::string Classify(std::span<const std::uint8_t> contents) {
  static const std::vector<std::uint8_t> kOld = [] {
    std::vector<std::uint8_t> cells(sim::kFlashBusSize);
    sim::FlashBus::FillOldFirmware(cells);
    return cells;
  }();
  switch (ClassifyFlash(contents, kOld)) {
    case FlashContents::kOld:
      return "old image";
    case FlashContents::kErased:
      return "blank";
    default:
      return "other image";
  }
}

}  // namespace

LiveCamera::LiveCamera(sim::Profile profile, std::filesystem::path cardDir, std::filesystem::path flashFile)
    : cardDir_(std::move(cardDir)), flashFile_(std::move(flashFile)), profile_(std::move(profile)) {
  sim::Clock clock;
  const sim::FlashBus flash(profile_.flash, clock, flashFile_);
  flashCopy_.assign(flash.contents().begin(), flash.contents().end());
  status_.flash.state = Classify(flashCopy_);
}

LiveCamera::~LiveCamera() {
  Shutdown();
}

void LiveCamera::Changed() {
  ++version_;
  changed_.notify_all();
}

void LiveCamera::PowerOn() {
  std::lock_guard lock(mutex_);
  if (status_.on || closing_) return;
  // The last run has said it is off; its thread has nothing left to do but end.
  if (thread_.joinable()) thread_.join();
  cut_ = false;
  pullCard_ = false;
  battery_.reset();
  keys_.clear();
  status_.on = true;
  status_.lastStop.clear();
  Changed();
  thread_ = std::thread([this, profile = profile_] { Run(profile); });
}

void LiveCamera::PressKey(std::uint16_t code) {
  {
    std::lock_guard lock(mutex_);
    if (status_.on) {
      keys_.push_back(code);
      changed_.notify_all();
      return;
    }
  }
  if (code == vestra::kKeyPower) PowerOn();
}

void LiveCamera::CutPower() {
  std::unique_lock lock(mutex_);
  if (status_.on) {
    cut_ = true;
    // The next platform call stops; a module waiting for a key or for time stops in NextKey or Pace.
    if (camera_ != nullptr) camera_->RequestPowerCut();
    changed_.notify_all();
    changed_.wait(lock, [this] { return !status_.on; });
  }
  if (thread_.joinable()) thread_.join();
}

void LiveCamera::PullCard() {
  std::lock_guard lock(mutex_);
  if (!status_.on) return;
  pullCard_ = true;
  changed_.notify_all();
}

void LiveCamera::BatteryFallsTo(std::uint8_t state) {
  std::lock_guard lock(mutex_);
  if (!status_.on) return;
  battery_ = state;
  changed_.notify_all();
}

void LiveCamera::ApplyPending() {
  sim::Camera* camera = camera_;
  if (camera == nullptr) return;
  if (pullCard_) camera->PullCardNow();
  if (battery_) camera->BatteryFallsTo(*battery_);
  pullCard_ = false;
  battery_.reset();
}

void LiveCamera::Shutdown() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    changed_.notify_all();
  }
  CutPower();
}

bool LiveCamera::closing() const {
  std::lock_guard lock(mutex_);
  return closing_;
}

void LiveCamera::SetSpeed(double factor) {
  std::lock_guard lock(mutex_);
  status_.speed = std::clamp(factor, 0.01, 10000.0);
  Changed();
}

void LiveCamera::SetProfile(sim::Profile profile) {
  std::lock_guard lock(mutex_);
  profile_ = std::move(profile);
  Changed();
}

sim::Profile LiveCamera::profile() const {
  std::lock_guard lock(mutex_);
  return profile_;
}

LiveStatus LiveCamera::Status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

std::uint64_t LiveCamera::Frame(sim::RgbImage* image) const {
  std::lock_guard lock(mutex_);
  if (image != nullptr) *image = frame_;
  return status_.frameIndex;
}

std::vector<std::uint8_t> LiveCamera::FlashContents() {
  std::unique_lock lock(mutex_);
  if (status_.on) {
    flashRequested_ = true;
    changed_.notify_all();
    changed_.wait_for(lock, 5s, [this] { return !flashRequested_ || !status_.on; });
  }
  return flashCopy_;
}

std::uint64_t LiveCamera::Version() const {
  std::lock_guard lock(mutex_);
  return version_;
}

void LiveCamera::Touch() {
  std::lock_guard lock(mutex_);
  Changed();
}

std::uint64_t LiveCamera::WaitForChange(std::uint64_t seen, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return version_ != seen || closing_; });
  return version_;
}

void LiveCamera::Run(sim::Profile profile) {
  std::string stop;
  bool cut = false;
  try {
    sim::Camera camera(sim::CameraOptions{.profile = std::move(profile),
                                          .cardDir = cardDir_,
                                          .flashFile = flashFile_,
                                          .cardMayBePulled = true});
    {
      std::lock_guard lock(mutex_);
      camera_ = &camera;
      if (cut_) camera.RequestPowerCut();
    }
    pacedSpeed_ = 0;
    lastSnapshot_ = {};
    camera.events().SetLiveSource([this] { return NextKey(); });
    camera.clock().SetOnAdvance([this](std::uint64_t ns) { Pace(ns); });
    RunOptions options;
    options.onFrame = [this](const sim::LcdFrame& frame) {
      sim::RgbImage image = sim::FrameToRgb(frame);
      std::lock_guard lock(mutex_);
      frame_ = std::move(image);
      ++status_.frameIndex;
      status_.panel = gCurPanel;
      for (std::size_t key = 0; key < status_.softKeys.size(); ++key)
        status_.softKeys[key] = gCurPanel >= 0 && gCurPanel < kPanelCount ? gPanel[gCurPanel].label[key] : "";
      status_.installing = gUpdateInProgress != 0;
      status_.errCode = gErrCode;
      Changed();
    };
    const RunResult result = RunModule(camera, options);
    camera.clock().SetOnAdvance(nullptr);
    {
      std::lock_guard lock(mutex_);
      cut = cut_;
    }
    stop = cut                     ? "power cut"
           : !result.error.empty() ? result.error
           : result.poweredDown    ? "power key"
                                   : "stopped";
    Snapshot(true);
    camera_ = nullptr;
  } catch (const std::exception& e) {
    stop = e.what();
    camera_ = nullptr;
  }
  std::lock_guard lock(mutex_);
  status_.on = false;
  status_.installing = false;
  status_.lastStop = stop;
  status_.ledValue = -1;
  flashRequested_ = false;
  Changed();
}

std::optional<sim::ScriptStep> LiveCamera::NextKey() {
  std::unique_lock lock(mutex_);
  if (cut_) CutNow();
  ApplyPending();
  if (!keys_.empty()) {
    sim::ScriptStep key;
    key.code = keys_.front();
    keys_.pop_front();
    return key;
  }
  // Nobody pressed anything: the camera's time passes as the person's does.
  const auto before = Clock::now();
  changed_.wait_for(lock, kIdleSlice, [this] { return cut_ || pullCard_ || battery_ || !keys_.empty(); });
  if (cut_) CutNow();
  ApplyPending();
  const double waited = std::chrono::duration<double, std::nano>(Clock::now() - before).count();
  sim::ScriptStep wait;
  wait.kind = sim::ScriptStep::Kind::kWait;
  wait.waitNs = static_cast<std::uint64_t>(waited * status_.speed);
  return wait;
}

void LiveCamera::CutNow() {
  // Only the module's thread gets here, with mutex_ held by a lock that unwinds with the throw.
  camera_->CutPower();
}

void LiveCamera::Pace(std::uint64_t virtualNs) {
  const auto now = Clock::now();
  std::unique_lock lock(mutex_);
  if (cut_) CutNow();
  ApplyPending();
  const double speed = status_.speed;
  if (speed != pacedSpeed_) {
    pacedSpeed_ = speed;
    anchorVirtualNs_ = virtualNs;
    anchorReal_ = now;
  }
  const auto target =
      anchorReal_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::nano>(
                        double(virtualNs - anchorVirtualNs_) / speed));
  if (target > now + kSleepAtLeast) {
    changed_.wait_until(lock, target, [&] { return cut_ || status_.speed != speed; });
    if (cut_) CutNow();
  } else if (now > target + kLagForgiven) {
    anchorReal_ = now;
    anchorVirtualNs_ = virtualNs;
  }
  const bool due = flashRequested_ || Clock::now() - lastSnapshot_ >= kSnapshotEvery;
  lock.unlock();
  if (due) Snapshot(false);
}

void LiveCamera::Snapshot(bool ended) {
  sim::Camera* camera = camera_;
  if (camera == nullptr) return;
  lastSnapshot_ = Clock::now();
  const sim::FlashBus& bus = camera->flash();
  LiveFlash flash;
  flash.counters = bus.counters();
  // A cut run leaves the flag set; nothing is installing on a camera that is off.
  const bool installing = !ended && gUpdateInProgress != 0;
  const UpdateFileHeader& header = gFile[0].header;
  const std::uint64_t imageLength = std::uint64_t{header.imageEnd - header.imageStart} + 1;
  if (flash.counters.wordsProgrammed > 0 && imageLength > 1) {
    flash.percent =
        static_cast<int>(std::min<std::uint64_t>(100, flash.counters.wordsProgrammed * 200 / imageLength));
  }

  std::lock_guard lock(mutex_);
  const bool copy = ended || flashRequested_;
  const LiveFlash& before = status_.flash;
  const bool unchanged = flash.counters.erases == before.counters.erases &&
                         flash.counters.wordsProgrammed == before.counters.wordsProgrammed;
  if (bus.mode() == sim::FlashBus::Mode::Busy && flash.counters.wordsProgrammed == 0 &&
      flash.counters.erases > 0) {
    flash.state = "erasing";
  } else if (flash.counters.wordsProgrammed > 0) {
    flash.state = installing ? "programming" : flash.percent >= 100 ? "programmed" : "partly programmed";
  } else if (flash.counters.erases == 0 && flash.counters.wordsProgrammed == 0 &&
             (before.state == "programmed" || before.state == "partly programmed")) {
    // A fresh power-on has written nothing yet: the flash still holds what the last installation left.
    flash.state = before.state;
    flash.percent = before.percent;
  } else if (unchanged && !copy && !before.state.empty()) {
    flash.state = before.state;
  } else {
    flash.state = Classify(bus.contents());
  }
  if (copy) flashCopy_.assign(bus.contents().begin(), bus.contents().end());
  flashRequested_ = false;
  const bool news = flash.state != before.state || flash.percent != before.percent ||
                    flash.counters.erases != before.counters.erases ||
                    flash.counters.writeEnableViolations != before.counters.writeEnableViolations ||
                    status_.ledValue != camera->ledValue || status_.installing != installing;
  status_.flash = flash;
  status_.virtualSeconds = camera->clock().SecondsExact();
  status_.ledValue = camera->ledValue;
  status_.panel = gCurPanel;
  status_.installing = installing;
  status_.errCode = gErrCode;
  if (news || copy) Changed();
}

}  // namespace harness
