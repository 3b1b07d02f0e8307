// A simulated camera held by a person: the module runs on a thread of its own, keys arrive as they are
// pressed, the virtual clock keeps pace with real time (times a speed factor) and every frame is kept for
// whoever watches.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/events.h"
#include "sim/flash.h"
#include "sim/frames.h"
#include "sim/profile.h"

namespace sim {
class Camera;
}

namespace harness {

struct LiveFlash {
  // "old image", "blank", "other image", "erasing", "programming", "partly programmed", "programmed"
  std::string state = "old image";
  int percent = 0;  // of the image the last installation wrote
  sim::FlashBus::Counters counters;
};

struct LiveStatus {
  bool on = false;
  bool installing = false;
  int panel = -1;
  std::array<std::string, 3> softKeys;  // the panel's labels, left to right; "" for a key without one
  int errCode = 0;
  int ledValue = -1;
  double virtualSeconds = 0;
  double speed = 1;
  std::string lastStop;  // how the last run ended: "power key", "power cut", or what stopped it
  LiveFlash flash;
  std::uint64_t frameIndex = 0;
};

class LiveCamera {
 public:
  // The card folder and the flash file outlive every power cycle; a profile applies from the next power-on.
  LiveCamera(sim::Profile profile, std::filesystem::path cardDir, std::filesystem::path flashFile);
  ~LiveCamera();  // cuts the power if it is on
  LiveCamera(const LiveCamera&) = delete;
  LiveCamera& operator=(const LiveCamera&) = delete;

  // Starts the module afresh; nothing when it is running. Throws std::runtime_error when the camera cannot be
  // built (an unreadable flash file).
  void PowerOn();
  // The power key powers an off camera on; every other key of an off camera goes nowhere.
  void PressKey(std::uint16_t code);
  // Stops the module where it stands, as pulling the battery would, and waits until it has stopped.
  void CutPower();
  // What a person does to a running camera, felt at its next platform call: the card leaves the slot (the
  // files open on it fail; a card put back is seen at the next power-on), the battery reads this state.
  // Nothing when it is off: the next power-on starts from the card folder and the profile.
  void PullCard();
  void BatteryFallsTo(std::uint8_t state);

  void SetSpeed(double factor);  // 1 is real time
  void SetProfile(sim::Profile profile);
  sim::Profile profile() const;

  LiveStatus Status() const;
  // The last frame the LCD showed; index 0 before the first.
  std::uint64_t Frame(sim::RgbImage* image) const;
  // The flash as the chip holds it now.
  std::vector<std::uint8_t> FlashContents();

  // Every change (frame, panel, power, flash) bumps the version; waits until it differs from seen, the
  // timeout passes or Shutdown is called.
  std::uint64_t Version() const;
  // Something the watchers show changed outside the camera (the card's files).
  void Touch();
  std::uint64_t WaitForChange(std::uint64_t seen, std::chrono::milliseconds timeout) const;
  // Wakes every waiter for good; the camera's power is cut.
  void Shutdown();
  bool closing() const;

 private:
  void Run(sim::Profile profile);
  std::optional<sim::ScriptStep> NextKey();  // on the module's thread
  void Pace(std::uint64_t virtualNs);        // on the module's thread
  void Snapshot(bool ended);                 // on the module's thread
  [[noreturn]] void CutNow();                // on the module's thread, with mutex_ held
  void ApplyPending();                       // on the module's thread, with mutex_ held
  void Changed();                            // with mutex_ held

  std::filesystem::path cardDir_;
  std::filesystem::path flashFile_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  sim::Profile profile_;
  std::deque<std::uint16_t> keys_;
  bool cut_ = false;
  bool pullCard_ = false;                // for the running camera, applied on its thread
  std::optional<std::uint8_t> battery_;  // likewise
  bool closing_ = false;
  std::thread thread_;
  LiveStatus status_;
  sim::RgbImage frame_;
  std::vector<std::uint8_t> flashCopy_;  // between runs, and for a request while running
  bool flashRequested_ = false;
  std::uint64_t version_ = 1;

  // Pacing, on the module's thread only.
  double pacedSpeed_ = 0;
  std::uint64_t anchorVirtualNs_ = 0;
  std::chrono::steady_clock::time_point anchorReal_;
  std::chrono::steady_clock::time_point lastSnapshot_;
  sim::Camera* camera_ = nullptr;  // the camera of the current run, under mutex_
};

}  // namespace harness
