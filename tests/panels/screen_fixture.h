// A simulated camera with the draw port and LCD ports built as start-up builds them, for drawing tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/entry.h"
#include "app/module_state.h"
#include "app/panel.h"
#include "gx/color.h"
#include "package/camera_info.h"
#include "platform/graphics.h"
#include "services/lcd.h"
#include "sim/camera.h"
#include "sim/graphics.h"
#include "tests/support/draw_start.h"

namespace vestra_test {

inline sim::Ycc AsYcc(const GXColor& colour) {
  return {static_cast<std::uint8_t>(colour.red), static_cast<std::uint8_t>(colour.green),
          static_cast<std::uint8_t>(colour.blue)};
}

inline GXColor Rgb(std::uint16_t r, std::uint16_t g, std::uint16_t b) {
  GXColor colour{};
  gxMakeYCC(r, g, b, &colour);
  return colour;
}

struct ScreenOptions {
  std::uint32_t region = 1;
  bool logoIcon = true;
};

class ScreenTest : public ::testing::Test {
 protected:
  void TearDown() override {
    sim::SetCurrent(nullptr);
    camera_.reset();
  }

  // Start-up up to the first panel draw: ports, pen, identity, colours, font and panel table.
  void Start(ScreenOptions options = {}) {
    sim::CameraOptions cameraOptions;
    cameraOptions.profile.region = options.region;
    cameraOptions.profile.platform.logoIcon = options.logoIcon;
    camera_ = std::make_unique<sim::Camera>(cameraOptions);
    camera_->Boot();
    sim::SetCurrent(camera_.get());
    vestra_test::StartModuleForDrawing();
    graphics().clearRecords();
  }

  sim::Graphics& graphics() { return camera_->graphics(); }

  // Covers the whole draw port in one colour, so untouched pixels are recognisable.
  void Clear(const GXColor& colour) {
    const vestra::Rect all{-10, -10, 230, 300};
    vestra::GMRGBForeColor(&colour);
    vestra::GMPaintRect(&all);
  }

  // A text's width in the platform's font, for positions built from widths.
  std::int16_t Width(std::int16_t font, std::int16_t size, const std::string& text) {
    vestra::GMTextFont(font, size);
    return vestra::GMTextWidth(text.c_str(), 0, static_cast<std::int16_t>(text.size()));
  }

  // A text drawn: font, size, h, v, the text and its colour.
  using Text = std::tuple<std::int16_t, std::int16_t, std::int16_t, std::int16_t, std::string, sim::Ycc>;
  // The texts drawn since the last clearRecords, leaving out empty ones (they show nothing).
  std::vector<Text> Drawn() {
    std::vector<Text> drawn;
    for (const sim::TextRecord& r : graphics().texts()) {
      if (!r.text.empty()) drawn.emplace_back(r.font, r.size, r.h, r.v, r.text, r.colour);
    }
    return drawn;
  }

  std::optional<sim::Ycc> Pixel(int h, int v) { return graphics().pixel(gDrawPort, h, v); }

  void ExpectPixel(int h, int v, const GXColor& colour, const char* what) {
    EXPECT_EQ(Pixel(h, v), std::optional(AsYcc(colour))) << what << " at (" << h << ", " << v << ")";
  }

  // Draws one panel's content the way AppDraw does, without the bar and the LCD.
  void DrawPanel(int index) {
    gCurPanel = static_cast<std::int16_t>(index);
    gPanel[index].drawProc(&gPanel[index], 0, 0);
  }

  std::unique_ptr<sim::Camera> camera_;
};

}  // namespace vestra_test
