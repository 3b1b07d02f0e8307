// The simulated camera: builds its services and makes itself the one the platform calls reach.
#include "sim/camera.h"

#include <algorithm>
#include <stdexcept>

#include "platform/graphics.h"
#include "platform/kernel.h"
#include "platform/resources.h"
#include "sim/card.h"
#include "sim/card_faults.h"
#include "sim/events.h"
#include "sim/flash.h"
#include "sim/graphics.h"
#include "sim/kernel.h"
#include "sim/memory.h"
#include "sim/resources.h"
#include "sim/sound.h"

namespace sim {

namespace {
Camera* gBooted = nullptr;  // the camera whose blocks the platform globals point into

// The boot screen the platform leaves behind for the module to release.
constexpr std::uint32_t kSplashBufferSize = vestra::kDrawPortWidth * vestra::kDrawPortHeight * 4;
}  // namespace

Camera::Camera(CameraOptions options) : options_(std::move(options)) {
  const Profile& profile = options_.profile;
  memory_ = std::make_unique<Memory>();
  kernel_ = std::make_unique<Kernel>();
  resources_ = std::make_unique<Resources>(profile);
  if (!options_.cardStorage) options_.cardStorage = std::make_shared<FolderCard>(options_.cardDir);
  const FaultProfile& faults = profile.faults;
  std::shared_ptr<CardStorage> storage = options_.cardStorage;
  if (faults.Card() || options_.cardMayBePulled) {
    auto faulty = std::make_shared<FaultyCard>(storage, faults, clock_, [this] { CutPower(); });
    faultyCard_ = faulty.get();
    storage = std::move(faulty);
  }
  card_ = std::make_unique<Card>(*this, storage);
  failParameterWrite = faults.eepromWriteFail;
  failEepromFlush = faults.eepromFlushFail;
  if (faults.powerCut.at == PowerCutPoint::At::kTime) cutAtNs_ = faults.powerCut.value;
  events_ = std::make_unique<EventQueue>(*this, ParseKeyScript(options_.keys));
  sound_ = std::make_unique<SoundService>(*this);
  graphics_ = std::make_unique<Graphics>(*this);
  flash_ = std::make_unique<FlashBus>(profile.flash, clock_, options_.flashFile);
  flash_->SetCutPoint(faults.powerCut);
  if (!faults.readFlips.empty()) flash_->FlipReadBits(faults.readFlips);
  lcdOn = profile.power.lcdOn;
}

void Camera::PullCardNow() {
  if (faultyCard_ == nullptr) throw std::logic_error("this camera's card cannot be pulled while it runs");
  faultyCard_->PullAt(clock_.Nanoseconds());
}

void Camera::BatteryFallsTo(std::uint8_t state) {
  options_.profile.faults.batteryAt.emplace_back(clock_.Nanoseconds(), state);
}

Camera::~Camera() {
  Camera* self = this;
  detail::gCurrent.compare_exchange_strong(self, nullptr);
  if (gBooted == this) {
    vestra::gRMSystemControlBlock = {};
    vestra::kRMFlashBaseAddress = nullptr;
    vestra::g_splash_buffer = nullptr;
    gBooted = nullptr;
  }
}

void Camera::Boot() {
  vestra::gRMSystemControlBlock = {};
  vestra::gRMSystemControlBlock.resourceBlock = resources_->block();
  vestra::kRMFlashBaseAddress = resources_->block();
  vestra::g_splash_buffer = memory_->Malloc(kSplashBufferSize);
  gBooted = this;
}

void Camera::CutPower() {
  const std::uint64_t at = std::min(clock_.Nanoseconds(), cutAtNs_);
  if (!cutAt_) cutAt_ = CutPoint{at, flash_->counters().busOps};
  powerCutRequested_.store(true, std::memory_order_relaxed);
  flash_->PowerOffAt(at);
  throw PowerCut{};
}

bool Camera::ResourcesInFlash() const {
  return vestra::kRMFlashBaseAddress == resources_->block();
}

bool Camera::FlashEraseBegan() const {
  return flash_->counters().erases > 0;
}

void Camera::PowerOffDevices() {
  flash_->PowerOff();
}

void detail::NoCurrentCamera() {
  throw std::logic_error("no simulated camera is current");
}

void SetCurrent(Camera* camera) {
  detail::gCurrent.store(camera, std::memory_order_relaxed);
}

void RequestPowerCutOfCurrent() noexcept {
  if (Camera* camera = detail::gCurrent.load(std::memory_order_relaxed)) camera->RequestPowerCut();
}

}  // namespace sim
