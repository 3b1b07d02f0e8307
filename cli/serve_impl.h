// What the parts of vupdate serve share: the camera, its card and profile, and the HTTP server around them.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/interrupt.h"
#include "cli/serve.h"
#include "cli/serve_http.h"
#include "cli/serve_profile.h"
#include "harness/live_camera.h"

namespace vupdate::serve {

struct Server::Impl {
  Options options;
  std::filesystem::path workDir;
  std::filesystem::path cardDir;
  std::filesystem::path flashFile;
  std::unique_ptr<CardSlot> card;
  std::unique_ptr<harness::LiveCamera> camera;
  std::unique_ptr<ProfileSlot> profile;
  std::unique_ptr<GuardedHttpServer> http;
  std::atomic<int> liveViews{0};
  std::atomic<pid_t> inspectChild{0};  // killed at a stop
  int port = 0;

  std::mutex inspectMutex;  // one inspect at a time: it runs a whole camera
  // A second signal ends the process at once: the working folder goes too, unless a pulled card of
  // --in-place may be waiting in it.
  interrupt::RemoveOnSignal removeWorkDir;

  std::mutex frameMutex;
  std::uint64_t encodedIndex = ~std::uint64_t{0};
  std::string encodedFrame;

  ~Impl();
  void SetUp();   // serve.cpp: checks the options, makes the working folder and the camera
  void Routes();  // serve_routes.cpp

  nlohmann::json CameraJson() const;
  nlohmann::json StateJson() const;
  std::string FrameMessage(std::uint64_t* seen);
  std::string Inspect(const std::string& name);
};

}  // namespace vupdate::serve
