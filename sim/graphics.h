// The simulated graphics manager and LCD manager: offscreen ports with real pixel memory, drawing, text,
// colour icons, the conversion into the LCD's Y-Cb-Y-Cr format and the frames the LCD shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/graphics.h"
#include "platform/types.h"
#include "sim/frames.h"

namespace sim {

class Camera;
class Face;

// One pixel in the platform's luma/chroma form.
struct Ycc {
  std::uint8_t cb = 128;
  std::uint8_t y = 16;
  std::uint8_t cr = 128;
  friend bool operator==(const Ycc&, const Ycc&) = default;
};

// Draw-port pixels are native words (Cb << 16) | (Y << 8) | Cr, so Cb and Cr of a pixel pair average with
// one mask and land where the LCD word wants them.
constexpr std::uint32_t PackDrawPixel(Ycc c) {
  return (std::uint32_t{c.cb} << 16) | (std::uint32_t{c.y} << 8) | c.cr;
}
constexpr Ycc UnpackDrawPixel(std::uint32_t w) {
  return {static_cast<std::uint8_t>(w >> 16), static_cast<std::uint8_t>(w >> 8),
          static_cast<std::uint8_t>(w)};
}

// What GMDrawText was asked to draw.
struct TextRecord {
  std::int16_t font = 0;
  std::int16_t size = 0;
  std::int16_t h = 0;
  std::int16_t v = 0;
  std::string text;  // the bytes drawn
  Ycc colour;
  const vestra::GrafPort* port = nullptr;
};

struct IconPlot {
  vestra::Rect rect;
};

class Graphics {
 public:
  explicit Graphics(Camera& camera);
  ~Graphics();
  Graphics(const Graphics&) = delete;
  Graphics& operator=(const Graphics&) = delete;

  // The graphics manager calls, as the module makes them.
  std::int16_t initGraf(std::int32_t flags);
  std::int16_t initFonts();
  std::int16_t newGWorld(vestra::GWorldPtr* out, std::int16_t depth, const vestra::Rect* bounds);
  void setPort(vestra::GWorldPtr port);
  void foreColor(const vestra::RGBColor* colour);
  void backColor(const vestra::RGBColor* colour);
  void paintRect(const vestra::Rect* r);
  void eraseRect(const vestra::Rect* r);
  void frameRect(const vestra::Rect* r);
  void penSize(std::int16_t width, std::int16_t height);
  void moveTo(std::int16_t h, std::int16_t v);
  void lineTo(std::int16_t h, std::int16_t v);
  void textFont(std::int16_t font, std::int16_t size);
  void textMode(std::int16_t mode);
  void drawText(const char* text, std::int16_t first, std::int16_t length);
  std::int16_t textWidth(const char* text, std::int16_t first, std::int16_t length);
  vestra::CIconHandle getCIcon(std::int16_t id);
  void plotCIcon(const vestra::Rect* r, vestra::CIconHandle handle);
  void copyBits(const vestra::PixMap* src, const vestra::PixMap* dst, const vestra::Rect* srcRect,
                const vestra::Rect* dstRect);

  // The LCD manager calls.
  void setupBuffers(void* lcdBase, void* drawBase);
  std::uint8_t lcdOn() const;
  void enableLcdController(void* lcdBase, void* drawBase);
  void switchBuffer(void* lcdBase);

  // For the runner and the tests.
  using FrameObserver = std::function<void(const LcdFrame&)>;
  void setFrameObserver(FrameObserver observer) { observer_ = std::move(observer); }
  std::uint64_t frameCount() const { return frames_; }
  // The LCD port on show (null before the first switch), and a view of its pixels.
  const vestra::GrafPort* shownPort() const;
  std::optional<LcdFrame> shownFrame() const;
  const vestra::GrafPort* currentPort() const;
  // A pixel of any port made here, in its own coordinates; empty outside it or for a foreign port.
  std::optional<Ycc> pixel(const vestra::GrafPort* port, int h, int v) const;
  std::optional<Ycc> pixel(int h, int v) const { return pixel(currentPort(), h, v); }
  // Every port made here, in the order of creation.
  std::vector<const vestra::GrafPort*> ports() const;

  const std::vector<TextRecord>& texts() const { return texts_; }
  const std::vector<IconPlot>& iconPlots() const { return iconPlots_; }
  void clearRecords();

  // Renders every text with the built-in face, whatever fontconfig offers.
  void setForceFallbackFont(bool force) { forceFallback_ = force; }
  // True when the face chosen for the current font and size is the built-in one.
  bool usesFallbackFace();

 private:
  // A port: the module holds a pointer to its first member; the pixel memory is real.
  struct Port {
    vestra::GrafPort port;
    vestra::PixMap pixMap;
    vestra::PixMap* pixMapPtr = nullptr;  // the port's pixel map handle points here
    std::int16_t depth = 32;
    int left = 0;  // bounds origin: the port's own coordinates of pixel memory's first pixel
    int top = 0;
    int width = 0;
    int height = 0;
    int wordsPerRow = 0;
    struct Free {
      void operator()(std::uint32_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint32_t[], Free> pixels;  // from calloc: fresh pages come zeroed, not cleared again

    // x, y count from the first pixel in memory and must lie inside. Inline: text is drawn pixel by pixel.
    Ycc get(int x, int y) const {
      const std::uint32_t w = pixels[static_cast<std::size_t>(y) * wordsPerRow + (depth == 32 ? x : x / 2)];
      if (depth == 32) return UnpackDrawPixel(w);
      const auto luma = static_cast<std::uint8_t>(x % 2 == 0 ? w >> 24 : w >> 8);
      return {static_cast<std::uint8_t>(w >> 16), luma, static_cast<std::uint8_t>(w)};
    }
    void put(int x, int y, Ycc c) {
      std::uint32_t& w = pixels[static_cast<std::size_t>(y) * wordsPerRow + (depth == 32 ? x : x / 2)];
      if (depth == 32) {
        w = PackDrawPixel(c);
        return;
      }
      // A pixel pair shares its chroma; the pixel written last decides it.
      const bool first = x % 2 == 0;
      const std::uint32_t otherLuma = w & (first ? 0x0000FF00u : 0xFF000000u);
      const std::uint32_t luma = std::uint32_t{c.y} << (first ? 24 : 8);
      w = otherLuma | luma | (std::uint32_t{c.cb} << 16) | c.cr;
    }
  };
  // A colour icon: the handle points at `master`, which points at `icon`; pixels in draw-port format.
  struct Icon {
    vestra::CIcon icon;
    vestra::CIcon* master = nullptr;
    int width = 0;
    int height = 0;
    std::unique_ptr<std::uint32_t[]> pixels;
    bool inFlash = false;  // decoded from the flash's resource block: a camera draws it from there
  };

  Port* find(const vestra::GrafPort* port) const;
  Port* findByBase(const void* base) const;
  Port* findByPixMap(const vestra::PixMap* pixMap) const;
  Icon* findIcon(vestra::CIconHandle handle) const;
  Face& face();
  void noteDrawing();
  void fill(Port& port, int left, int top, int right, int bottom, Ycc colour);
  void plotPen(Port& port, int h, int v);
  std::int32_t measure(const unsigned char* bytes, std::size_t count);

  Camera& camera_;
  bool drawPixels_;  // the camera's option, kept at hand for every pixel loop
  std::vector<std::unique_ptr<Port>> ports_;
  std::vector<std::unique_ptr<Icon>> icons_;
  Port* current_ = nullptr;
  Port* shown_ = nullptr;
  Ycc fore_{128, 16, 128};
  Ycc back_{128, 255, 128};
  int penWidth_ = 1;
  int penHeight_ = 1;
  std::int16_t penH_ = 0;
  std::int16_t penV_ = 0;
  std::int16_t font_ = 2;
  std::int16_t fontSize_ = 18;
  std::int16_t textMode_ = 1;
  bool forceFallback_ = false;
  bool initialised_ = false;
  std::uint64_t frames_ = 0;
  FrameObserver observer_;
  std::vector<TextRecord> texts_;
  std::vector<IconPlot> iconPlots_;
};

}  // namespace sim
