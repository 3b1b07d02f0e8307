// The event manager: key events from a script, delivered as the platform's 16-byte records.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/events.h"

namespace sim {

class Camera;

// One step of a key script.
struct ScriptStep {
  enum class Kind { kKey, kEvent4, kWait, kRemove };
  Kind kind = Kind::kKey;
  std::uint16_t code = 0;    // kKey
  std::uint16_t state = 0;   // kKey
  std::uint32_t value = 0;   // kEvent4
  std::uint64_t waitNs = 0;  // kWait
  std::string path;          // kRemove: relative to the card folder
  bool operator==(const ScriptStep&) const = default;
};

// A token that is not part of the script language; what() names the token.
class KeyScriptError : public std::runtime_error {
 public:
  KeyScriptError(const std::string& message, std::string token)
      : std::runtime_error(message), token_(std::move(token)) {}
  const std::string& token() const { return token_; }

 private:
  std::string token_;
};

// Parses the comma-separated script: left, centre/center, right, power, debug, key:CODE[:STATE],
// event4:VALUE, wait:SECONDS, remove:PATH. Throws KeyScriptError on the first bad token.
std::vector<ScriptStep> ParseKeyScript(std::string_view script);

constexpr std::uint8_t kModuleAppID = 0x2A;  // what AMGetSelfAppID hands the module

class EventQueue {
 public:
  EventQueue(Camera& camera, std::vector<ScriptStep> steps);

  // Where steps come from once the script has run out: a person at the keys. It may block; nullopt ends the
  // run as a script running out does.
  using LiveSource = std::function<std::optional<ScriptStep>()>;
  void SetLiveSource(LiveSource source) { live_ = std::move(source); }

  std::int16_t Open(std::uint8_t appID);
  // Runs the script up to its next event; throws ScriptEnded when nothing is left.
  std::int16_t Get(std::uint8_t appID, vestra::EventRecord** record);
  void Release(vestra::EventRecord* record);

  int delivered() const { return delivered_; }
  int released() const { return released_; }
  // Records released that were never delivered, or released twice.
  int badReleases() const { return badReleases_; }
  bool opened() const { return opened_; }

 private:
  Camera& camera_;
  std::deque<ScriptStep> steps_;
  LiveSource live_;
  std::deque<vestra::EventRecord> records_;  // stable addresses for the records handed out
  std::vector<vestra::EventRecord*> outstanding_;
  int delivered_ = 0;
  int released_ = 0;
  int badReleases_ = 0;
  bool opened_ = false;
};

}  // namespace sim
