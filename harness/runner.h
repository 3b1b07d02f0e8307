// Runs the updater module on a simulated camera, as the platform would load and start it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/panel.h"
#include "sim/camera.h"
#include "sim/flash.h"
#include "sim/frames.h"

namespace harness {

using sim::Camera;
using sim::FlashBus;
using sim::RgbImage;
using sim::SoundPlay;

struct RunOptions {
  std::filesystem::path shotsDir;  // empty: no pictures; else frame-0001.png ... and sheet.png
  // Keep the contact sheet's tiles in RunResult::panelImages: each whole-panel draw, the progress panel's
  // as its bar is half way.
  bool keepPanelImages = false;
  // Every frame as the LCD shows it, on the thread that runs the module; the frame is valid only during the
  // call.
  std::function<void(const sim::LcdFrame&)> onFrame;
};

struct RunResult {
  bool poweredDown = false;
  bool scriptEnded = false;
  // The power went away (a cut asked for, or a fault of the profile): where it happened.
  bool powerCut = false;
  struct CutAt {
    double virtualSeconds = 0;
    std::uint64_t busOp = 0;  // flash bus operations done, counting the one the cut fell on
    PanelId panel = PanelId{kNoPanel};
  } cutAt;
  std::string error;  // what else stopped the run; empty when it ended as a run ends
  bool ended() const { return error.empty() && (poweredDown || scriptEnded); }

  PanelId finalPanel = PanelId{kNoPanel};
  std::vector<PanelId> panels;  // the panel of every whole-panel draw, in order
  int errCode = 0;
  std::string codeFile;  // the code file the module chose, as a card path ("SYSTEM/QR40A.BIN"); empty: none
  bool debugMode = false;
  std::vector<SoundPlay> sounds;
  std::vector<std::string> logLines;
  std::optional<std::uint32_t> eepromRegion;
  std::optional<FlashBus::Counters> flash;
  std::uint32_t progressMax = 0;
  std::uint32_t progressValue = 0;
  std::uint64_t frames = 0;
  std::uint64_t progressFrames = 0;
  double virtualSeconds = 0;

  // Faults the camera noticed.
  int faultsInsideLock = 0;
  int openFiles = 0;           // descriptors, directories and streams the module left open
  int flashResourceReads = 0;  // resources used from the flash's block after the erase began
  int ledValue = -1;

  std::vector<std::string> shotErrors;  // pictures that could not be written
  std::vector<RgbImage> panelImages;    // with RunOptions::keepPanelImages
  // Under each tile of the contact sheet: its panel's name and its frame number ("progress, frame 9").
  std::vector<std::string> sheetCaptions;
};

// Starts the module afresh on this camera (its globals as loading leaves them) and runs it until it powers
// the camera down, the key script runs out or the power is cut. The flash file is the chip throughout.
RunResult RunModule(Camera& camera, const RunOptions& options = {});

}  // namespace harness
