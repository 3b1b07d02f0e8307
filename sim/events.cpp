// Key scripts, and the event manager that plays them to the module.
#include "sim/events.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

#include "platform/bytes.h"
#include "sim/camera.h"
#include "sim/card.h"

namespace sim {

namespace {

struct NamedKey {
  std::string_view name;
  std::uint16_t code;
};
constexpr NamedKey kNamedKeys[] = {
    {"left", vestra::kKeyLeft},   {"centre", vestra::kKeyCentre}, {"center", vestra::kKeyCentre},
    {"right", vestra::kKeyRight}, {"power", vestra::kKeyPower},   {"debug", vestra::kKeyDebug},
};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

[[noreturn]] void Bad(std::string_view token, std::string_view why) {
  throw KeyScriptError("bad key token '" + std::string(token) + "': " + std::string(why), std::string(token));
}

// Decimal, or hexadecimal after 0x; the whole text must be the number.
template <typename T>
bool ParseUnsigned(std::string_view text, T* out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out, base);
  return ec == std::errc{} && end == text.data() + text.size();
}

// Seconds as digits with an optional fraction, turned into nanoseconds exactly.
bool ParseSeconds(std::string_view text, std::uint64_t* ns) {
  const std::size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  std::string_view frac = dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
  if (whole.empty() && frac.empty()) return false;
  if (dot != std::string_view::npos && frac.empty()) return false;
  std::uint64_t seconds = 0;
  if (!whole.empty() && !ParseUnsigned(whole, &seconds)) return false;
  if (whole.size() > 2 && (whole[1] == 'x' || whole[1] == 'X')) return false;
  constexpr std::uint64_t kMaxSeconds = 10ULL * 365 * 24 * 3600;  // a decade of waiting is plenty
  if (seconds > kMaxSeconds || frac.size() > 9) return false;
  std::uint64_t nanos = 0;
  for (std::size_t i = 0; i < 9; ++i) {
    const char c = i < frac.size() ? frac[i] : '0';
    if (c < '0' || c > '9') return false;
    nanos = nanos * 10 + static_cast<std::uint64_t>(c - '0');
  }
  *ns = seconds * 1'000'000'000ULL + nanos;
  return true;
}

bool SafeRelativePath(std::string_view path) {
  if (path.empty() || path.front() == '/') return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = std::min(path.find('/', start), path.size());
    if (path.substr(start, slash - start) == "..") return false;
    start = slash + 1;
  }
  return true;
}

ScriptStep ParseToken(std::string_view token) {
  ScriptStep step;
  for (const auto& k : kNamedKeys) {
    if (token == k.name) {
      step.code = k.code;
      return step;
    }
  }
  const std::size_t colon = token.find(':');
  if (colon == std::string_view::npos) Bad(token, "unknown key");
  const std::string_view verb = token.substr(0, colon);
  const std::string_view arg = token.substr(colon + 1);
  if (verb == "key") {
    const std::size_t second = arg.find(':');
    if (!ParseUnsigned(arg.substr(0, second), &step.code)) Bad(token, "key code must be 0 to 65535");
    if (second != std::string_view::npos && !ParseUnsigned(arg.substr(second + 1), &step.state)) {
      Bad(token, "key state must be 0 to 65535");
    }
    return step;
  }
  if (verb == "event4") {
    step.kind = ScriptStep::Kind::kEvent4;
    if (!ParseUnsigned(arg, &step.value)) Bad(token, "value must be a 32-bit unsigned number");
    return step;
  }
  if (verb == "wait") {
    step.kind = ScriptStep::Kind::kWait;
    if (!ParseSeconds(arg, &step.waitNs)) Bad(token, "seconds must be a non-negative decimal number");
    return step;
  }
  if (verb == "remove") {
    step.kind = ScriptStep::Kind::kRemove;
    if (!SafeRelativePath(arg)) Bad(token, "path must be relative to the card folder and stay inside it");
    step.path = std::string(arg);
    return step;
  }
  Bad(token, "unknown key");
}

}  // namespace

std::vector<ScriptStep> ParseKeyScript(std::string_view script) {
  std::vector<ScriptStep> steps;
  if (Trim(script).empty()) return steps;
  std::size_t start = 0;
  while (start <= script.size()) {
    const std::size_t comma = std::min(script.find(',', start), script.size());
    const std::string_view token = Trim(script.substr(start, comma - start));
    if (token.empty()) Bad(token, "empty token");
    steps.push_back(ParseToken(token));
    start = comma + 1;
  }
  return steps;
}

EventQueue::EventQueue(Camera& camera, std::vector<ScriptStep> steps)
    : camera_(camera), steps_(steps.begin(), steps.end()) {}

std::int16_t EventQueue::Open(std::uint8_t) {
  opened_ = true;
  return 0;
}

std::int16_t EventQueue::Get(std::uint8_t, vestra::EventRecord** record) {
  if (record == nullptr) return -1;
  for (;;) {
    if (steps_.empty()) {
      std::optional<ScriptStep> next = live_ ? live_() : std::nullopt;
      if (!next) break;
      steps_.push_back(std::move(*next));
    }
    const ScriptStep step = steps_.front();
    steps_.pop_front();
    switch (step.kind) {
      case ScriptStep::Kind::kWait:
        camera_.clock().AdvanceNanoseconds(step.waitNs);
        continue;
      case ScriptStep::Kind::kRemove:
        // As a person pulling the file would: whatever the module holds open stays open on the host.
        camera_.card().RemoveRelative(step.path);
        continue;
      case ScriptStep::Kind::kKey:
      case ScriptStep::Kind::kEvent4: {
        vestra::EventRecord& r = records_.emplace_back();
        std::fill(std::begin(r.bytes), std::end(r.bytes), std::uint8_t{0});
        if (step.kind == ScriptStep::Kind::kKey) {
          vestra::StoreBE16(r.bytes + vestra::kEventKindOffset, vestra::kEventKindKey);
          vestra::StoreBE16(r.bytes + vestra::kEventKeyStateOffset, step.state);
          vestra::StoreBE16(r.bytes + vestra::kEventKeyCodeOffset, step.code);
        } else {
          vestra::StoreBE16(r.bytes + vestra::kEventKindOffset, vestra::kEventKindOther);
          vestra::StoreBE32(r.bytes + vestra::kEventValueOffset, step.value);
        }
        outstanding_.push_back(&r);
        ++delivered_;
        *record = &r;
        return 0;
      }
    }
  }
  throw ScriptEnded{};
}

void EventQueue::Release(vestra::EventRecord* record) {
  const auto it = std::find(outstanding_.begin(), outstanding_.end(), record);
  if (it == outstanding_.end()) {
    ++badReleases_;
    return;
  }
  outstanding_.erase(it);
  ++released_;
}

}  // namespace sim

namespace vestra {

std::int16_t EMOpen(std::uint8_t appID, std::int32_t) {
  return sim::Current().events().Open(appID);
}
std::int16_t EMGetEvent(std::uint8_t appID, EventRecord** record) {
  return sim::Current().events().Get(appID, record);
}
void EMReleaseEventRecord(EventRecord* record) {
  sim::Current().events().Release(record);
}

std::int16_t AMGetSelfAppID(std::uint8_t* appID) {
  if (appID == nullptr) return -1;
  *appID = sim::kModuleAppID;
  return 0;
}

std::uint32_t CKReadRealTimeClock() {
  return sim::Current().clock().Seconds();
}

}  // namespace vestra
