// vupdate serve: an HTTP server around one live simulated camera, and the page that holds it.
#include "cli/serve.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include <unistd.h>

#include "cli/commands.h"
#include "cli/paths.h"
#include "cli/serve_impl.h"
#include "sim/profile_toml.h"

namespace fs = std::filesystem;

namespace vupdate::serve {

namespace {

fs::path MakeWorkDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vupdate-serve-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make a working folder in " + pattern);
  return pattern;
}

}  // namespace

Server::Impl::~Impl() {
  if (camera) camera->Shutdown();
  profile.reset();
  camera.reset();
  // A pulled card waits in the working folder: back into the card folder with it before that folder goes.
  if (card && !card->inserted() && !card->Insert().empty()) {
    std::cerr << "vupdate serve: the pulled card's files stay in " << workDir << "\n";
    return;
  }
  std::error_code ec;
  if (!workDir.empty()) fs::remove_all(workDir, ec);
}

void Server::Impl::SetUp() {
  std::error_code ec;
  if (!options.card.empty() && !fs::is_directory(options.card, ec)) {
    throw std::runtime_error("card folder '" + options.card + "' does not exist or is not a folder");
  }
  if (options.inPlace && options.card.empty()) throw std::runtime_error("--in-place needs --card");
  if (!options.flash.empty()) {
    if (auto problem = paths::CheckFlashFile("--flash", options.flash, true))
      throw std::runtime_error(*problem);
  }
  if (options.port < 0 || options.port > 65535) throw std::runtime_error("--port must be 0 to 65535");
  std::string name = "built-in";
  std::string text;
  fs::path profilePath = options.camera;
  if (profilePath.empty() && fs::is_regular_file(options.samples / "camera-us.toml", ec)) {
    profilePath = options.samples / "camera-us.toml";
  }
  if (!profilePath.empty()) {
    name = profilePath.filename().string();
    text = ReadTextFile(profilePath, kLargestProfile);
  }
  sim::Profile parsed = sim::ParseProfile(text, name);

  workDir = MakeWorkDir();
  if (!options.inPlace) removeWorkDir.Set(workDir);
  cardDir = options.inPlace ? fs::path(options.card) : workDir / "card";
  if (!options.inPlace) {
    if (!options.card.empty()) {
      fs::copy(options.card, cardDir, fs::copy_options::recursive, ec);
      if (ec) throw std::runtime_error("cannot copy the card folder: " + ec.message());
    }
    fs::create_directories(cardDir / "SYSTEM", ec);
  }
  flashFile = options.flash.empty() ? workDir / "flash.bin" : fs::path(options.flash);
  card = std::make_unique<CardSlot>(cardDir, workDir / "pulled");
  camera = std::make_unique<harness::LiveCamera>(std::move(parsed), cardDir, flashFile);
  profile = std::make_unique<ProfileSlot>(*camera, name, text);
}

Server::Server(Options options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  impl_->SetUp();
  impl_->Routes();
  Impl& i = *impl_;
  errno = 0;
  i.port = i.options.port == 0 ? i.http->bind_to_any_port(i.options.bind)
                               : (i.http->bind_to_port(i.options.bind, i.options.port) ? i.options.port : -1);
  if (i.port <= 0) {
    const std::string where = i.options.bind + ":" + std::to_string(i.options.port);
    if (errno == EADDRINUSE) throw std::runtime_error(where + " is in use: another server listens there");
    throw std::runtime_error("cannot listen on " + where +
                             (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
  }
  i.http->WidenBacklog();
  i.camera->PowerOn();
}

Server::~Server() = default;

int Server::port() const {
  return impl_->port;
}

std::string Server::address() const {
  const std::string& host = impl_->options.bind;
  const bool v6 = host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(impl_->port) + "/";
}

void Server::Run() {
  impl_->http->listen_after_bind();
}

void Server::Stop() {
  impl_->camera->Shutdown();
  // An inspect runs a whole camera; the server does not wait for it.
  if (const pid_t child = impl_->inspectChild.load(); child > 0) ::kill(child, SIGKILL);
  impl_->http->StopNow();
}

}  // namespace vupdate::serve

namespace vupdate {

// vupdate-serve's own serve: the server in this process, until a signal stops it.
int Serve(const serve::Options& options, char** /*argv*/) {
  std::unique_ptr<serve::Server> server;
  try {
    server = std::make_unique<serve::Server>(options);
  } catch (const std::exception& e) {
    std::cerr << "vupdate serve: " << e.what() << "\n";
    return kExitUsage;
  }
  if (!serve::IsLoopbackAddress(options.bind)) {
    std::cerr << "vupdate serve: warning: listening on " << options.bind
              << ", beyond this machine: anyone who reaches it can drive the camera and write its card\n";
  }
  std::cout << "vupdate serve: open " << server->address() << std::endl;
  {
    // Ctrl-C, SIGTERM and SIGHUP stop the server in order: the camera's power goes, then the working folder.
    interrupt::DivertSignal stop([&server](int) { server->Stop(); });
    server->Run();
  }
  server.reset();
  return kExitOk;
}

}  // namespace vupdate
