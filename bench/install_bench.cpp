// The installation of the largest image the updater accepts (0x1FFFFF bytes): blank check, erase,
// 1 048 576 word programs with their status polls and every progress frame.
// Targets: at most 60 ms in process; `vupdate run` of the whole update as a process, without PNG output,
// at most 150 ms wall and 64 MiB peak memory.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/module_state.h"
#include "app/panel.h"
#include "install/install.h"
#include "package/camera_info.h"
#include "package/digest.h"
#include "package/file_set.h"
#include "platform/bytes.h"
#include "platform/graphics.h"
#include "platform/kernel.h"
#include "sim/camera.h"
#include "sim/flash.h"
#include "sim/graphics.h"
#include "tests/support/draw_start.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kImageLength = 0x1FFFFF;

std::vector<std::uint8_t> Image() {
  std::vector<std::uint8_t> image(kImageLength);
  for (std::uint32_t i = 0; i < kImageLength; ++i) image[i] = static_cast<std::uint8_t>(i * 131 + (i >> 11));
  return image;
}

std::uint32_t ByteSum(const std::vector<std::uint8_t>& bytes) {
  std::uint32_t sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return sum;
}

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The code file as verification leaves it: header, image and a "DONE" trailer.
std::vector<std::uint8_t> CodeFile(const std::vector<std::uint8_t>& image) {
  std::vector<std::uint8_t> file(64);
  vestra::StoreBE32(&file[0], 0x434F4445);
  vestra::StoreBE32(&file[4], 64);
  vestra::StoreBE32(&file[8], 64 + kImageLength);
  vestra::StoreBE32(&file[12], ByteSum(image));
  vestra::StoreBE32(&file[20], kImageLength - 1);
  file.insert(file.end(), image.begin(), image.end());
  for (char c : {'D', 'O', 'N', 'E'}) file.push_back(static_cast<std::uint8_t>(c));
  const std::uint32_t sum = ByteSum(file);
  file.resize(file.size() + 4);
  vestra::StoreBE32(&file[file.size() - 4], sum);
  return file;
}

// A camera on the power warning panel with the code file on its card, as verification leaves it.
std::unique_ptr<sim::Camera> ReadyCamera(const fs::path& card, const std::vector<std::uint8_t>& codeFile) {
  fs::remove_all(card);
  fs::create_directories(card / "SYSTEM");
  WriteFile(card / "SYSTEM" / "UPDATE.CAM", {1});
  WriteFile(card / "SYSTEM" / "UPDATE.CRS", {1});
  WriteFile(card / "SYSTEM" / "QR40BENCH.BIN", codeFile);
  sim::CameraOptions options;
  options.cardDir = card;
  auto camera = std::make_unique<sim::Camera>(options);
  camera->Boot();
  sim::SetCurrent(camera.get());
  vestra_test::StartModuleForDrawing();
  semIdDelete = vestra::semBCreate(0, 1);
  GetInstallerFilenames();
  gFile[0].header.headerSize = 64;
  gFile[0].header.trailerOffset = 64 + kImageLength;
  const std::vector<std::uint8_t> image(codeFile.begin() + 64, codeFile.end() - 8);
  gFile[0].header.imageChecksum = ByteSum(image);
  gFile[0].imageDigest = Crc32Final(Crc32Update(kCrc32Start, image.data(), kImageLength));
  gFile[0].regionCode = gCam.regionCode;
  AppSwapPanels(gCurPanel, kPowerWarningPanel);
  return camera;
}

void BM_WholeInstallation(benchmark::State& state) {
  const fs::path card = fs::temp_directory_path() / ("vestra_install_bench_" + std::to_string(::getpid()));
  const std::vector<std::uint8_t> codeFile = CodeFile(Image());
  std::uint64_t frames = 0;
  for (auto _ : state) {
    auto camera = ReadyCamera(card, codeFile);
    const auto start = std::chrono::steady_clock::now();
    AppSwapPanels(gCurPanel, kProgressPanel);  // the "Update" key: the whole installation
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (gCurPanel != kSuccessPanel || camera->flash().counters().wordsProgrammed != 0x100000) {
      state.SkipWithError("the installation did not succeed");
      break;
    }
    frames = camera->graphics().frameCount();
    sim::SetCurrent(nullptr);
  }
  state.counters["frames"] = static_cast<double>(frames);
  fs::remove_all(card);
}
BENCHMARK(BM_WholeInstallation)->UseManualTime()->Unit(benchmark::kMillisecond);

fs::path Vupdate() {
  return fs::read_symlink("/proc/self/exe").parent_path() / "vupdate";
}

struct ChildUsage {
  long maxRssKiB = 0;
  double cpuSeconds = 0;
};

// Runs a command; its exit status, its peak resident memory and its processor time.
int Spawn(const std::vector<std::string>& args, ChildUsage* used) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return -1;
  used->maxRssKiB = usage.ru_maxrss;
  used->cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_VupdateRunProcess(benchmark::State& state) {
  const fs::path vupdate = Vupdate();
  if (!fs::exists(vupdate)) {
    state.SkipWithError("vupdate is not built next to this benchmark");
    return;
  }
  const fs::path work = fs::temp_directory_path() / ("vestra_run_bench_" + std::to_string(::getpid()));
  fs::remove_all(work);
  fs::create_directories(work / "card" / "SYSTEM");
  WriteFile(work / "image.bin", Image());
  {
    std::ofstream profile(work / "camera.toml");
    profile << "vendor = \"Norvale Co., Ltd.\"\nproduct = \"Calyte QR\"\n";
  }
  ChildUsage used;
  const fs::path code = work / "card" / "SYSTEM" / "QR40BENCH.BIN";
  if (Spawn({vupdate.string(), "pack",        "--image",      (work / "image.bin").string(),
             "--out",          code.string(), "--firmware",   "0x01100000",
             "--ccs",          "0x01000000",  "--region",     "1",
             "--installer",    "0x01000000",  "--vendor",     "Norvale Co., Ltd.",
             "--product",      "Calyte QR",   "--serial-min", "0",
             "--serial-max",   "0xFFFFFFFF"},
            &used) != 0) {
    state.SkipWithError("vupdate pack failed");
    return;
  }
  const fs::path saved = work / "code.bin";
  fs::copy_file(code, saved);
  long peak = 0;
  double cpu = 0;
  int runs = 0;
  for (auto _ : state) {
    // A successful run in place leaves the card without update files.
    fs::copy_file(saved, code, fs::copy_options::overwrite_existing);
    WriteFile(work / "card" / "SYSTEM" / "UPDATE.CAM", {1});
    WriteFile(work / "card" / "SYSTEM" / "UPDATE.CRS", {1});
    fs::remove(work / "flash.bin");
    const auto start = std::chrono::steady_clock::now();
    const int status = Spawn({vupdate.string(), "run", "--in-place", "--card", (work / "card").string(),
                              "--camera", (work / "camera.toml").string(), "--flash",
                              (work / "flash.bin").string(), "--keys", "left,left,left,centre,right"},
                             &used);
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (status != 0 || fs::exists(code)) {
      state.SkipWithError(
          ("vupdate run did not install the update, status " + std::to_string(status)).c_str());
      break;
    }
    peak = std::max(peak, used.maxRssKiB);
    cpu += used.cpuSeconds;
    ++runs;
  }
  state.counters["peak_MiB"] = static_cast<double>(peak) / 1024;
  // On a machine shared with other work the wall time says little; the child's processor time does.
  if (runs > 0) state.counters["child_cpu_ms"] = cpu / runs * 1000;
  fs::remove_all(work);
}
BENCHMARK(BM_VupdateRunProcess)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
