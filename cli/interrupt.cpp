#include "cli/interrupt.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

namespace vupdate::interrupt {

namespace {

struct Registry {
  std::mutex mutex;
  std::map<int, std::filesystem::path> paths;
  int nextId = 1;
  std::function<void(int)> divert;
};

// Never destroyed: the signal thread may still run while the program's statics go away.
Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

std::atomic<int> gDiverted{0};

[[noreturn]] void EndBy(int sig) {
  // The default action now, so that the caller sees the process ended by this signal.
  std::signal(sig, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, sig);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  raise(sig);
  std::_Exit(128 + sig);
}

void Watch(sigset_t set) {
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    Registry& r = TheRegistry();
    std::unique_lock lock(r.mutex);
    if (r.divert && gDiverted.load() == 0) {
      gDiverted = sig;
      const auto action = r.divert;
      lock.unlock();
      action(sig);
      continue;
    }
    for (const auto& [id, path] : r.paths) {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
    EndBy(sig);
  }
}

void SetDivert(std::function<void(int)> action) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.divert = std::move(action);
}

}  // namespace

void Start() {
  // Past a file size limit (ulimit -f) a write should fail with an error the command reports, not end it.
  std::signal(SIGXFSZ, SIG_IGN);
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread(Watch, set).detach();
}

RemoveOnSignal::~RemoveOnSignal() {
  if (id_ == 0) return;
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.paths.erase(id_);
}

void RemoveOnSignal::Set(std::filesystem::path path) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  if (id_ == 0) id_ = r.nextId++;
  r.paths[id_] = std::move(path);
}

DivertSignal::DivertSignal(std::function<void(int)> action) {
  SetDivert(std::move(action));
}

DivertSignal::~DivertSignal() {
  SetDivert(nullptr);
}

void DivertUntilExit(std::function<void(int)> action) {
  SetDivert(std::move(action));
}

int DivertedSignal() {
  return gDiverted.load();
}

}  // namespace vupdate::interrupt
