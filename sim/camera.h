// The simulated camera: one instance is current while the module runs on it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/clock.h"
#include "sim/power_cut.h"
#include "sim/profile.h"

namespace sim {

class Graphics;      // sim/graphics.h: ports, drawing, text, icons, LCD frames
class Card;          // sim/card.h: drive B's descriptors, streams and folders
class CardStorage;   // sim/card_storage.h: where drive B keeps its bytes
class FaultyCard;    // sim/card_faults.h: what a real card does to a camera
class FlashBus;      // sim/flash.h: the flash device and the write-enable registers
class EventQueue;    // sim/events.h: the key script
class SoundService;  // sim/sound.h: plays recorded
class Resources;     // sim/resources.h: the resource block (sounds, logo icon)
class Memory;        // sim/memory.h: heap, memory manager pointers, capture buffer
class Kernel;        // sim/kernel.h: semaphores and the start-up calls' traces

// PMPowerDown unwinds out of entry with this.
struct PoweredDown {};
// The key script ran out while the module polled for more.
struct ScriptEnded {};

// What a run leaves behind besides the card and the flash file.
struct SoundPlay {
  std::int16_t id;
  bool wait;
};

struct CameraOptions {
  Profile profile;
  std::filesystem::path cardDir;             // drive B
  std::filesystem::path flashFile;           // empty: the flash lives in memory only
  std::string keys;                          // the key script
  std::shared_ptr<CardStorage> cardStorage;  // drive B's bytes; null: the folder cardDir
  // False for a camera nobody looks at (a verdict, a sweep, the fuzzer): every drawing call is made, recorded
  // and answered as usual, but no pixel is written and text is measured in the built-in font.
  bool drawPixels = true;
  // A person holds the camera and may pull its card while the module runs (PullCardNow).
  bool cardMayBePulled = false;
};

class Camera {
 public:
  explicit Camera(CameraOptions options);
  ~Camera();
  Camera(const Camera&) = delete;
  Camera& operator=(const Camera&) = delete;

  const Profile& profile() const { return options_.profile; }
  const CameraOptions& options() const { return options_; }
  Clock& clock() { return clock_; }

  Graphics& graphics() { return *graphics_; }
  Card& card() { return *card_; }
  FlashBus& flash() { return *flash_; }
  EventQueue& events() { return *events_; }
  SoundService& sound() { return *sound_; }
  Resources& resources() { return *resources_; }
  Memory& memory() { return *memory_; }
  Kernel& kernel() { return *kernel_; }

  // Asks for a power cut: the run stops at the next platform call or bus operation. Async-signal-safe, and
  // callable from any thread.
  void RequestPowerCut() noexcept { powerCutRequested_.store(true, std::memory_order_relaxed); }
  bool powerCutRequested() const noexcept { return powerCutRequested_.load(std::memory_order_relaxed); }
  // A cut asked for, or the time of one the profile asks for has come.
  bool CutDue() const noexcept { return powerCutRequested() || clock_.Nanoseconds() >= cutAtNs_; }
  // Takes the supply away now: the flash device stops where it is. Throws PowerCut.
  [[noreturn]] void CutPower();
  // What a person does to a running camera, on the module's thread: the card leaves the slot (every open file
  // fails from now on; needs cardMayBePulled), the battery reads this state from now on.
  void PullCardNow();
  void BatteryFallsTo(std::uint8_t state);
  // Where the power went away: virtual time and the flash bus operations done by then.
  struct CutPoint {
    std::uint64_t nanoseconds = 0;
    std::uint64_t busOps = 0;
  };
  const std::optional<CutPoint>& cutAt() const { return cutAt_; }
  // The end of a run that was not a cut: the device loses its supply too, with whatever it still does.
  void PowerOffDevices();

  // Puts what the platform leaves for a starting module in place: the resource block and the splash
  // buffer. The runner calls it once the camera is current.
  void Boot();

  // Parameter store: the EEPROM region once rewritten.
  std::optional<std::uint32_t> eepromRegion;
  std::optional<std::uint32_t> pendingRegion;
  bool lcdOn = true;
  int lcdEnableCalls = 0;
  int ledValue = -1;
  bool interruptsLocked = false;
  int faultsInsideLock = 0;  // drawing or file access with interrupts locked
  bool poweredDown = false;
  // Resource data used from the platform's block, which lives in the flash, after the erase began.
  int flashResourceReads = 0;
  // Whether the module now reaches the resources in the flash's own block (it did not copy them), and
  // whether the flash has been erased: together, what the module reads there is gone.
  bool ResourcesInFlash() const;
  bool FlashEraseBegan() const;
  // Knobs: the parameter store refuses the region write, or the EEPROM flush.
  bool failParameterWrite = false;
  bool failEepromFlush = false;
  // The "rgnc" capability record PARMGetCapability hands out.
  std::array<std::uint8_t, 48> capabilityRecord{};

 private:
  CameraOptions options_;
  Clock clock_;
  std::unique_ptr<Graphics> graphics_;
  FaultyCard* faultyCard_ = nullptr;  // the card's fault layer, when it has one
  std::unique_ptr<Card> card_;
  std::unique_ptr<FlashBus> flash_;
  std::unique_ptr<EventQueue> events_;
  std::unique_ptr<SoundService> sound_;
  std::unique_ptr<Resources> resources_;
  std::unique_ptr<Memory> memory_;
  std::unique_ptr<Kernel> kernel_;
  std::atomic<bool> powerCutRequested_{false};
  std::uint64_t cutAtNs_ = ~std::uint64_t{0};
  static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler sets the request");
  std::optional<CutPoint> cutAt_;
};

namespace detail {
// Every platform call starts here, eight times per programmed word: inline, with the rare cases out of line.
inline std::atomic<Camera*> gCurrent{nullptr};
static_assert(std::atomic<Camera*>::is_always_lock_free, "a signal handler reads it");
[[noreturn]] void NoCurrentCamera();
}  // namespace detail

// The camera the platform calls reach; throws std::logic_error when none is current, and PowerCut when a cut
// was asked for.
inline Camera& Current() {
  Camera* camera = detail::gCurrent.load(std::memory_order_relaxed);
  if (camera == nullptr) [[unlikely]]
    detail::NoCurrentCamera();
  if (camera->CutDue()) [[unlikely]]
    camera->CutPower();
  return *camera;
}
// Asks the current camera, if any, for a power cut. Async-signal-safe: for a signal handler.
void RequestPowerCutOfCurrent() noexcept;
// Makes a camera current for its lifetime (nullptr: none).
void SetCurrent(Camera* camera);

}  // namespace sim
