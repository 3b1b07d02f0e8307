// The updater's sound cues, played from RAM copies made at start-up.
#pragma once

#include <cstdint>

#include "platform/sound.h"

constexpr std::int16_t kUIIntroSnd = -1001;
constexpr std::int16_t kUIShutterSnd = -1002;
constexpr std::int16_t kUISoftkeySnd = -1003;
constexpr std::int16_t kUIMenuSnd = -1004;
constexpr std::int16_t kUIBurstSnd = -1005;
constexpr std::int16_t kUIArrowSnd = -1006;
constexpr std::int16_t kUIRepeatSnd = -1007;
constexpr std::int16_t kUITypeSnd = -1008;
constexpr std::int16_t kUIEraseSnd = -1009;
constexpr std::int16_t kUIAlertSnd = -1010;
constexpr std::int16_t kSoundNotLoaded = -6500;

extern vestra::SNDChannel gSoundChannel;
extern std::uint8_t* AlertSndRsrcPtr;
extern std::uint8_t* EraseSndRsrcPtr;
extern std::uint8_t* IntroSndRsrcPtr;
extern std::uint8_t* BurstSndRsrcPtr;
extern std::uint8_t* RepeatSndRsrcPtr;
extern std::uint8_t* ArrowSndRsrcPtr;
extern std::uint8_t* SoftkeySndRsrcPtr;
extern std::uint8_t* TypeSndRsrcPtr;

void SetupSound();
std::int16_t GetSound(std::int16_t id, std::uint8_t** slot);
std::int16_t PlaySound(std::int16_t id, std::uint8_t wait);
