// Ctrl-C, SIGTERM and SIGHUP for vupdate: taken by a thread of their own, so that what they do (remove a
// temporary file, cut the simulated camera's power) runs as ordinary code, not inside a signal handler.
#pragma once

#include <filesystem>
#include <functional>

namespace vupdate::interrupt {

// Blocks the signals in the calling thread, and so in every thread started later, and starts the thread
// that takes them. Called once, first thing in main.
void Start();

// While it holds a path, a signal removes that path (a folder with everything in it) before the process ends.
class RemoveOnSignal {
 public:
  RemoveOnSignal() = default;
  ~RemoveOnSignal();
  RemoveOnSignal(const RemoveOnSignal&) = delete;
  RemoveOnSignal& operator=(const RemoveOnSignal&) = delete;
  void Set(std::filesystem::path path);

 private:
  int id_ = 0;
};

// While one exists, the first signal calls `action` (on the signal thread) instead of ending the process;
// a second signal ends it.
class DivertSignal {
 public:
  explicit DivertSignal(std::function<void(int)> action);
  ~DivertSignal();
  DivertSignal(const DivertSignal&) = delete;
  DivertSignal& operator=(const DivertSignal&) = delete;
};

// From now until the process ends, the first signal calls `action` instead of ending the process; a second
// signal ends it. Unlike a DivertSignal that goes away, this leaves no moment in which a signal sent while
// the action was in place (but not yet taken by the signal thread) ends the process instead.
void DivertUntilExit(std::function<void(int)> action);

// The signal taken while an action was in place (a DivertSignal or DivertUntilExit), 0 for none.
int DivertedSignal();

}  // namespace vupdate::interrupt
