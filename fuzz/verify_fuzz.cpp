// Arbitrary bytes as the code file on the (in-memory) card of a fixed camera, through the file search, the
// reader and the whole verification (its log, deletion, error panel and alert). Each input is tried as it is
// and, so that the search gets past the two byte sums, once more with both sums made right.
//
// The updater is started once on the camera and stays up, as it does on the camera after a refused file;
// each input then repeats the two start-up checks that concern update files. Starting the module afresh
// for every input would spend nearly all the time building ports and buffers.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

#include "app/entry.h"
#include "app/panel.h"
#include "harness/runner.h"
#include "package/camera_info.h"
#include "package/file_set.h"
#include "package/update_set.h"
#include "package/verify.h"
#include "platform/bytes.h"
#include "platform/kernel.h"
#include "services/log.h"
#include "services/sound.h"
#include "sim/camera.h"
#include "sim/card.h"
#include "sim/graphics.h"
#include "sim/sound.h"

namespace {

// The camera keeps every log line and sound; a fresh one now and then keeps memory flat.
constexpr int kInputsPerCamera = 4000;

std::shared_ptr<sim::MemoryCard> gCard;
std::unique_ptr<sim::Camera> gCamera;
std::size_t gLogLines = 0;  // lines the module logged on this camera
int gInputsOnCamera = 0;

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "verify_fuzz: %s\n", what);
  std::abort();
}

void Put(std::string_view path, const std::uint8_t* data, std::size_t size) {
  gCard->Put(path, std::string_view(reinterpret_cast<const char*>(data), size));
}

void StartCamera() {
  sim::Profile profile;
  profile.power.external = true;
  gCamera.reset();
  // A fresh card too: an accepted input stays on the old one, and start-up would find it.
  gCard = std::make_shared<sim::MemoryCard>();
  gCard->MakeFolder("SYSTEM");
  gCamera = std::make_unique<sim::Camera>(
      sim::CameraOptions{.profile = profile, .cardStorage = gCard, .drawPixels = false});
  // No code file yet: the start-up ends on the error panel, with ports, panels and sounds all set up.
  const harness::RunResult run = harness::RunModule(*gCamera);
  Require(run.ended() && run.errCode == kErrMissing, "the camera did not start");
  // Only how many lines an input logs matters: a recorder keeping every line would allocate for each.
  // The module writes a whole line, CR LF included, at a time.
  gLogLines = 0;
  gCamera->card().SetWriteObserver([](std::string_view path, std::string_view bytes) {
    if (path != kLogFilePath) return;
    for (std::size_t at = bytes.find("\r\n"); at != std::string_view::npos; at = bytes.find("\r\n", at + 2)) {
      ++gLogLines;
    }
  });
  gInputsOnCamera = 0;
}

void Shutdown() {
  sim::SetCurrent(nullptr);
  gCamera.reset();
}

// The target's own arithmetic gets no coverage callbacks: only the module's decisions should steer the
// fuzzer, and a callback per summed byte costs a tenth of each input's time.
__attribute__((no_sanitize("coverage"))) std::uint32_t Sum(const std::vector<std::uint8_t>& bytes,
                                                           std::uint64_t from, std::uint64_t to) {
  std::uint32_t sum = 0;
  for (std::uint64_t i = from; i < to && i < bytes.size(); ++i) sum += bytes[i];
  return sum;
}

__attribute__((no_sanitize("coverage"))) bool StoreIfDifferent(std::uint8_t* at, std::uint32_t value) {
  if (vestra::LoadBE32(at) == value) return false;
  vestra::StoreBE32(at, value);
  return true;
}

// The image sum over the stretch the header names (as far as the file goes), then the file sum in the last
// four bytes. False when both were right already.
__attribute__((no_sanitize("coverage"))) bool WithRightSums(const std::uint8_t* data, std::size_t size,
                                                            std::vector<std::uint8_t>& bytes) {
  if (size < 68) return false;
  bytes.assign(data, data + size);
  const std::uint32_t headerSize = vestra::LoadBE32(&bytes[4]);
  const std::uint32_t trailerOffset = vestra::LoadBE32(&bytes[8]);
  const auto length = static_cast<std::int32_t>(trailerOffset - headerSize);
  bool changed = false;
  if (length > 0) {
    changed = StoreIfDifferent(&bytes[12], Sum(bytes, headerSize, std::uint64_t{headerSize} + length));
  }
  return StoreIfDifferent(&bytes[bytes.size() - 4], Sum(bytes, 0, bytes.size() - 4)) || changed;
}

void Verify(const std::uint8_t* data, std::size_t size) {
  if (!gCamera || ++gInputsOnCamera > kInputsPerCamera) StartCamera();
  // A refusal removes the set, so every input gets a whole one.
  Put("SYSTEM/QR40FUZZ.BIN", data, size);
  Put("SYSTEM/UPDATE.CRS", nullptr, 0);
  Put("SYSTEM/UPDATE.CAM", nullptr, 0);
  // The log file and the drawn texts of earlier inputs would only pile up.
  Put("SYSTEM/UPDATE.LOG", nullptr, 0);
  gCamera->graphics().clearRecords();

  sim::SetCurrent(gCamera.get());
  const std::size_t linesBefore = gLogLines;
  const std::size_t soundsBefore = gCamera->sound().plays().size();
  // What start-up leaves for the two checks: the splash current, nothing found or verified yet.
  gCurPanel = kSplashPanel;
  gErrCode = kErrNone;
  gFile[0] = gFile[1] = CameraInfo{};
  gCam.debugText[0] = 0;
  vestra::semGive(semIdDelete);  // full again, as start-up left it

  Require(GetInstallerFilenames() == kErrNone, "the code file was not found");
  const std::int16_t result = VerifyInstallerFiles();

  const std::size_t lines = gLogLines - linesBefore;
  const auto& sounds = gCamera->sound().plays();
  Require(result == gErrCode, "the result is not the error code");
  Require(result == kErrNone || result == kErrIncompatible || result == kErrCorrupt || result == kErrMissing,
          "unknown error code");
  Require(gCamera->card().OpenCount() == 0, "the verification left files open");
  if (result == kErrNone) {
    // Whatever else, an accepted file starts with a code header of 64 bytes and an image that fits the flash.
    Require(size >= 72 && vestra::LoadBE32(data) == 0x434F4445 && vestra::LoadBE32(data + 4) == 64,
            "accepted a file without a code header");
    Require(vestra::LoadBE32(data + 8) - 64 <= 0x1FFFFF, "accepted an image larger than the flash");
    Require(lines == 0 && gCurPanel == kSplashPanel && sounds.size() == soundsBefore,
            "accepted with a refusal's traces");
    Require(InDebugMode() == (gFile[0].debugText[0] != 0), "debug mode without a debug file");
  } else {
    Require(lines >= 8 && gCurPanel == kErrorPanel, "refused without the comparison or the error panel");
    Require(sounds.size() == soundsBefore + 1 && sounds.back().id == kUIAlertSnd,
            "refused without the alert");
    Require(!InDebugMode(), "debug mode after a refusal");
  }
  sim::SetCurrent(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::atexit(Shutdown);
  StartCamera();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::vector<std::uint8_t> summed;  // kept: a fresh one per input would cost an allocation
  Verify(data, size);
  if (WithRightSums(data, size, summed)) Verify(summed.data(), summed.size());
  return 0;
}
