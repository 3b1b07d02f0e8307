// Words for what the camera shows and plays, said beside the numbers in every report the tools write.
#pragma once

#include <cstdint>
#include <string_view>

namespace harness {

// "splash", "version", "licence", "warning", "progress", "success", "cancelled", "battery", "error";
// "none" before the first panel, "unknown" for anything else.
std::string_view PanelName(int panel);

// The updater's result codes: "accepted", "does not fit", "damaged", "unreadable", "missing"; "unknown" else.
std::string_view ErrorCodeName(int code);

// The platform sound a play was of ("intro", "alert", …); "unknown" for samples that are none of them.
std::string_view SoundName(int id);

// What the LED value means ("ready", "off"); "unknown" for any other value.
std::string_view LedName(int value);

}  // namespace harness
