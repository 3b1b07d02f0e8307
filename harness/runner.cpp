// The runner: loads the module's globals afresh, starts entry and records what the camera saw.
#include "harness/runner.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string_view>
#include <system_error>

#include "app/entry.h"
#include "app/event_loop.h"
#include "app/module_state.h"
#include "app/panel.h"
#include "harness/log_recorder.h"
#include "harness/names.h"
#include "install/install.h"
#include "package/camera_info.h"
#include "package/file_set.h"
#include "panels/panels.h"
#include "sim/card.h"
#include "sim/frames.h"
#include "sim/graphics.h"
#include "sim/sound.h"

namespace harness {

using sim::LcdFrame;

namespace {

// Makes a camera current for the run and leaves none current afterwards, however the run ends.
class CurrentCamera {
 public:
  explicit CurrentCamera(Camera& camera) { sim::SetCurrent(&camera); }
  ~CurrentCamera() { sim::SetCurrent(nullptr); }
  CurrentCamera(const CurrentCamera&) = delete;
  CurrentCamera& operator=(const CurrentCamera&) = delete;
};

class FrameRecorder {
 public:
  FrameRecorder(const RunOptions& options, RunResult& result) : options_(options), result_(result) {}

  void operator()(const LcdFrame& frame) {
    ++result_.frames;
    if (options_.onFrame) options_.onFrame(frame);
    const bool progress = gCurPanel == kProgressPanel && gUpdateInProgress != 0;
    if (progress) {
      ++result_.progressFrames;
    } else {
      result_.panels.push_back(PanelId{gCurPanel});
    }
    if (!options_.shotsDir.empty()) {
      char name[32];
      std::snprintf(name, sizeof name, "frame-%04llu.png", static_cast<unsigned long long>(result_.frames));
      std::string error;
      if (!pngs_.Write(frame, options_.shotsDir / name, &error)) result_.shotErrors.push_back(error);
    }
    if (!options_.keepPanelImages && options_.shotsDir.empty()) return;
    if (!progress) {
      sheet_.push_back(sim::FrameToRgb(frame));
      result_.sheetCaptions.push_back(Caption(frame));
      midProgressShown_ = false;
    } else if (!midProgressShown_ && gProgressBarValue * 2 >= gProgressBarMax) {
      // The progress panel's tile shows the bar half way, not the empty bar the panel is first drawn with.
      midProgressShown_ = true;
      if (!sheet_.empty()) {
        sheet_.back() = sim::FrameToRgb(frame);
        result_.sheetCaptions.back() = Caption(frame);
      }
    }
  }

  void Finish() {
    if (!options_.shotsDir.empty() && !sheet_.empty()) {
      std::string error;
      if (!WriteContactSheetPng(sheet_, options_.shotsDir / "sheet.png", &error, result_.sheetCaptions)) {
        result_.shotErrors.push_back(error);
      }
    }
    if (options_.keepPanelImages) result_.panelImages = std::move(sheet_);
  }

 private:
  static std::string Caption(const LcdFrame& frame) {
    return std::string(harness::PanelName(gCurPanel)) + ", frame " + std::to_string(frame.index);
  }

  const RunOptions& options_;
  RunResult& result_;
  std::vector<RgbImage> sheet_;
  bool midProgressShown_ = false;
  sim::FramePngWriter pngs_;
};

// The module names the code file on drive B ("/B/SYSTEM/X"); the card's own paths start below the drive.
std::string CodeFileOnCard() {
  constexpr std::string_view kDrive = "/B/";
  const std::string_view name(gStrCodeFileName, ::strnlen(gStrCodeFileName, sizeof gStrCodeFileName));
  return std::string(name.starts_with(kDrive) ? name.substr(kDrive.size()) : name);
}

}  // namespace

RunResult RunModule(Camera& camera, const RunOptions& options) {
  RunResult result;
  FrameRecorder recorder(options, result);
  LogRecorder log(camera);
  {
    CurrentCamera current(camera);
    ResetModuleGlobals();
    gShutdownNow = camera.profile().shutdownNow ? 1 : 0;
    camera.Boot();
    camera.graphics().setFrameObserver([&recorder](const LcdFrame& frame) { recorder(frame); });
    try {
      entry();
    } catch (const sim::PoweredDown&) {
      result.poweredDown = true;
    } catch (const sim::ScriptEnded&) {
      result.scriptEnded = true;
    } catch (const sim::PowerCut&) {
      result.powerCut = true;
      const auto& at = camera.cutAt();
      result.cutAt.virtualSeconds =
          at ? static_cast<double>(at->nanoseconds) / 1e9 : camera.clock().SecondsExact();
      result.cutAt.busOp = at ? at->busOps : camera.flash().counters().busOps;
      result.cutAt.panel = PanelId{gCurPanel};
    } catch (const std::exception& e) {
      result.error = e.what();
    }
    camera.graphics().setFrameObserver(nullptr);
    // However the run ended, the chip loses its supply with it.
    camera.PowerOffDevices();
  }
  recorder.Finish();

  result.finalPanel = PanelId{gCurPanel};
  result.errCode = gErrCode;
  result.codeFile = CodeFileOnCard();
  result.debugMode = InDebugMode();
  result.sounds = camera.sound().plays();
  result.logLines = log.lines();
  result.eepromRegion = camera.eepromRegion;
  result.flash = camera.flash().counters();
  result.progressMax = gProgressBarMax;
  result.progressValue = gProgressBarValue;
  result.virtualSeconds = camera.clock().SecondsExact();
  result.faultsInsideLock = camera.faultsInsideLock;
  result.openFiles = camera.card().OpenCount();
  result.flashResourceReads = camera.flashResourceReads;
  result.ledValue = camera.ledValue;
  return result;
}

}  // namespace harness
