// Every run-time global of the module, defined here and nowhere else: the list below both defines them with
// the value loading gives them and resets them to it, so a global cannot be reset without being defined or
// defined without being reset. scripts/check-module-symbols.sh fails the build's tests when writable data is
// defined in any other file.
#include "app/module_state.h"

#include <algorithm>
#include <iterator>
#include <type_traits>

#include "app/entry.h"
#include "app/event_loop.h"
#include "app/panel.h"
#include "gx/color.h"
#include "install/flash_rom.h"
#include "install/install.h"
#include "package/camera_info.h"
#include "package/file_set.h"
#include "panels/panels.h"
#include "services/lcd.h"
#include "services/log.h"
#include "services/power.h"
#include "services/sound.h"

// The list takes a type and a name where an expression cannot stand, so its arguments go unparenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses,bugprone-sizeof-expression)
// VALUE(type, name, initial value) for a single value; ARRAY(element type, name, count) for a zero-filled
// array.
#define VESTRA_MODULE_GLOBALS(VALUE, ARRAY)                  \
  VALUE(vestra::GWorldPtr, gDrawPort, nullptr)               \
  VALUE(vestra::GWorldPtr, gLCDPort, nullptr)                \
  VALUE(vestra::GWorldPtr, gLCDPort1, nullptr)               \
  VALUE(vestra::GWorldPtr, gLCDPort2, nullptr)               \
  VALUE(std::uint8_t, altAppID, 0)                           \
  VALUE(vestra::SEM_ID, semIdDelete, nullptr)                \
  VALUE(vestra::CIconHandle, gLogoIcon, nullptr)             \
  VALUE(std::uint8_t, gResourcesInRAM, 0)                    \
  VALUE(std::int16_t, gFontNum, 0)                           \
  VALUE(std::uint8_t, gShutdownNow, 0)                       \
  ARRAY(PanelRec, gPanel, kPanelCount)                       \
  VALUE(std::int16_t, gCurPanel, kNoPanel)                   \
  VALUE(GXColor, gWhite, {})                                 \
  VALUE(GXColor, gBlack, {})                                 \
  VALUE(GXColor, gRed, {})                                   \
  VALUE(GXColor, gGreen, {})                                 \
  VALUE(GXColor, gBlue, {})                                  \
  VALUE(GXColor, gMagenta, {})                               \
  VALUE(GXColor, gYellow, {})                                \
  VALUE(GXColor, gCyan, {})                                  \
  VALUE(GXColor, gOrange, {})                                \
  VALUE(GXColor, gMidBlue, {})                               \
  VALUE(GXColor, gDkBlue, {})                                \
  VALUE(GXColor, gGray10, {})                                \
  VALUE(GXColor, gGray8, {})                                 \
  VALUE(GXColor, gGray4, {})                                 \
  VALUE(GXColor, gGray2, {})                                 \
  VALUE(GXColor, gGray1, {})                                 \
  VALUE(GXColor, gGray0, {})                                 \
  VALUE(CameraInfo, gCam, {})                                \
  ARRAY(std::uint8_t, gCamUnreadable, kCameraParameterCount) \
  ARRAY(CameraInfo, gFile, 2)                                \
  VALUE(std::int16_t, gErrCode, kErrNone)                    \
  VALUE(const char*, gStrLogFileName, nullptr)               \
  VALUE(const char*, gStrFontFileName, nullptr)              \
  VALUE(const char*, gStrCamFileName, nullptr)               \
  ARRAY(char, gStrCodeFileName, kCodeFileNameSize)           \
  ARRAY(char, message, kMessageSize)                         \
  VALUE(vestra::SNDChannel, gSoundChannel, 0)                \
  VALUE(std::uint8_t*, AlertSndRsrcPtr, nullptr)             \
  VALUE(std::uint8_t*, EraseSndRsrcPtr, nullptr)             \
  VALUE(std::uint8_t*, IntroSndRsrcPtr, nullptr)             \
  VALUE(std::uint8_t*, BurstSndRsrcPtr, nullptr)             \
  VALUE(std::uint8_t*, RepeatSndRsrcPtr, nullptr)            \
  VALUE(std::uint8_t*, ArrowSndRsrcPtr, nullptr)             \
  VALUE(std::uint8_t*, SoftkeySndRsrcPtr, nullptr)           \
  VALUE(std::uint8_t*, TypeSndRsrcPtr, nullptr)              \
  VALUE(std::uint32_t, gProgressBarMax, 0)                   \
  VALUE(std::uint32_t, gProgressBarValue, 0)                 \
  VALUE(std::uint8_t, gUpdateInProgress, 0)                  \
  ARRAY(std::uint8_t, rdBuff, kFlashBlockSize)

#define VESTRA_DEFINE_VALUE(type, name, initial) type name = initial;
#define VESTRA_DEFINE_ARRAY(type, name, count) type name[count]{};
VESTRA_MODULE_GLOBALS(VESTRA_DEFINE_VALUE, VESTRA_DEFINE_ARRAY)

namespace {

template <typename T>
void Reset(T& value, T initial) {
  value = initial;
}

}  // namespace

void ResetModuleGlobals() {
#define VESTRA_RESET_VALUE(type, name, initial) Reset<type>(name, initial);
#define VESTRA_RESET_ARRAY(type, name, count) std::fill(std::begin(name), std::end(name), type{});
  VESTRA_MODULE_GLOBALS(VESTRA_RESET_VALUE, VESTRA_RESET_ARRAY)
}

void VisitModuleGlobals(ModuleGlobalVisitor visit, void* context) {
#define VESTRA_VISIT_VALUE(type, name, initial) \
  visit({#name, &name, sizeof name, std::is_pointer_v<type>}, context);
#define VESTRA_VISIT_ARRAY(type, name, count) visit({#name, name, sizeof name, false}, context);
  VESTRA_MODULE_GLOBALS(VESTRA_VISIT_VALUE, VESTRA_VISIT_ARRAY)
}
// NOLINTEND(bugprone-macro-parentheses,bugprone-sizeof-expression)
