// Verifying the largest update file the camera takes (an image of 0x1FFFFF bytes) on the simulated card.
// Targets: at most 3 ms a verification, with no heap allocation that grows with the file (compare the
// counters of the small and the large file); `vupdate inspect` of that file as a whole process at most 10 ms.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/panel.h"
#include "harness/runner.h"
#include "package/camera_info.h"
#include "package/file_set.h"
#include "package/verify.h"
#include "platform/kernel.h"
#include "sim/camera.h"
#include "updatefile/update_file.h"

extern char** environ;

// The replacements below pair malloc with free; GCC cannot see that once it inlines them into callers.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// Every allocation of the process is counted; a benchmark reads the change over what it measures.
namespace {
std::uint64_t gAllocations = 0;
std::uint64_t gAllocatedBytes = 0;
}  // namespace

void* operator new(std::size_t size) {
  ++gAllocations;
  gAllocatedBytes += size;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

namespace fs = std::filesystem;

class BenchCard {
 public:
  explicit BenchCard(std::uint32_t imageSize) {
    std::string pattern = (fs::temp_directory_path() / "verify-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    root_ = pattern;
    fs::create_directories(root_ / "SYSTEM");
    std::vector<std::uint8_t> image(imageSize);
    for (std::uint32_t i = 0; i < imageSize; ++i) image[i] = static_cast<std::uint8_t>(i * 31 + (i >> 11));
    vupdate::UpdateMetadata meta;
    meta.firmware = meta.ccs = meta.installer = 0x01000000;
    meta.region = 1;
    meta.vendor = "Norvale Co., Ltd.";
    meta.product = "Calyte QR";
    meta.serialMax = 0xFFFFFFFF;
    file_ = root_ / "SYSTEM" / "QR40000.BIN";
    const auto bytes = vupdate::BuildUpdateFile(vupdate::LayoutFor(std::move(image), meta));
    std::ofstream(file_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    std::ofstream(root_ / "SYSTEM" / "UPDATE.CRS");
    std::ofstream(root_ / "SYSTEM" / "UPDATE.CAM");
  }
  ~BenchCard() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  const fs::path& root() const { return root_; }
  const fs::path& file() const { return file_; }

 private:
  fs::path root_;
  fs::path file_;
};

// The updater is started on the camera (it accepts the file), then the verification alone runs again.
void BM_VerifyInstallerFiles(benchmark::State& state) {
  BenchCard card(static_cast<std::uint32_t>(state.range(0)));
  sim::Profile profile;
  profile.power.external = true;
  sim::Camera camera(sim::CameraOptions{profile, card.root(), {}, ""});
  if (harness::RunModule(camera).errCode != 0) {
    state.SkipWithError("the camera refused the file");
    return;
  }
  sim::SetCurrent(&camera);
  std::uint64_t allocations = 0;
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    gErrCode = kErrNone;
    gFile[0] = CameraInfo{};
    const std::uint64_t allocationsBefore = gAllocations;
    const std::uint64_t bytesBefore = gAllocatedBytes;
    const std::int16_t result = VerifyInstallerFiles();
    allocations += gAllocations - allocationsBefore;
    bytes += gAllocatedBytes - bytesBefore;
    if (result != 0) {
      state.SkipWithError("the verification refused the file");
      break;
    }
  }
  sim::SetCurrent(nullptr);
  state.counters["heap_allocs"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
  state.counters["heap_bytes"] =
      benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kAvgIterations);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 2 * state.range(0));
}
BENCHMARK(BM_VerifyInstallerFiles)->Arg(1024)->Arg(0x1FFFFF)->Unit(benchmark::kMillisecond);

int Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_InspectProcess(benchmark::State& state) {
  const fs::path vupdate = fs::read_symlink("/proc/self/exe").parent_path() / "vupdate";
  if (!fs::exists(vupdate)) {
    state.SkipWithError("vupdate is not built next to this benchmark");
    return;
  }
  BenchCard card(0x1FFFFF);
  for (auto _ : state) {
    if (Spawn({vupdate.string(), "inspect", card.file().string()}) != 0) {
      state.SkipWithError("vupdate inspect did not find the file well formed");
      break;
    }
  }
}
BENCHMARK(BM_InspectProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
