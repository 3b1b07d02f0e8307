// vupdate serve: an HTTP server around one live simulated camera, and the page that holds it.
#include "cli/serve.h"

#include <array>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <httplib.h>
#include <toml++/toml.h>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/numbers.h"
#include "cli/paths.h"
#include "cli/web_assets.h"
#include "harness/live_camera.h"
#include "platform/events.h"
#include "sim/profile_toml.h"
#include "updatefile/update_file.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace serve {

namespace {

using namespace std::chrono_literals;

constexpr std::size_t kLogShown = 16 * 1024;
constexpr std::size_t kInspectOutputMax = 256 * 1024;
constexpr std::int64_t kLowBattery = 3;  // anything but 7 is too low for the updater
// Tabs hold one connection each for the live stream, and a few more for their requests.
constexpr std::size_t kServerThreads = 32;
// A tab gets at most this many updates a second; a slow one simply skips frames.
constexpr auto kStreamPause = 40ms;

struct NamedKey {
  const char* name;
  std::uint16_t code;
};
constexpr NamedKey kKeys[] = {{"left", vestra::kKeyLeft},
                              {"centre", vestra::kKeyCentre},
                              {"right", vestra::kKeyRight},
                              {"power", vestra::kKeyPower},
                              {"debug", vestra::kKeyDebug}};

std::string ReadFile(const fs::path& path, std::size_t max) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read '" + path.string() + "'");
  std::string text(max + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > max) throw std::runtime_error("'" + path.string() + "' is too large");
  return text;
}

// Runs a program with its standard output and error captured, up to max bytes, with no signal blocked (the
// server blocks its stop signals for its own waiter) and none of the server's descriptors but the pipe.
std::string RunCapturing(const std::vector<std::string>& argv, std::size_t max) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return "Cannot run " + argv[0] + ".\n";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, argv[0].c_str(), &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(pipeFds[1]);
  std::string output;
  if (spawned == 0) {
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
      if (n > 0 && output.size() < max) output.append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  } else {
    output = "Cannot run " + argv[0] + ".\n";
  }
  ::close(pipeFds[0]);
  return output;
}

// Pixels as runs: a count (1 to 256, less one) and the colour. LCD pictures are mostly flat, so a frame is a
// few kilobytes instead of three hundred.
std::string EncodeFrame(const sim::RgbImage& image) {
  std::string runs;
  const std::size_t pixels = image.rgb.size() / 3;
  for (std::size_t i = 0; i < pixels;) {
    const std::uint8_t* p = &image.rgb[i * 3];
    std::size_t n = 1;
    while (n < 256 && i + n < pixels && std::equal(p, p + 3, &image.rgb[(i + n) * 3])) ++n;
    runs += static_cast<char>(n - 1);
    runs.append(reinterpret_cast<const char*>(p), 3);
    i += n;
  }
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((runs.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < runs.size(); i += 3) {
    const std::size_t left = runs.size() - i;
    const std::uint32_t v = (std::uint32_t{static_cast<std::uint8_t>(runs[i])} << 16) |
                            (left > 1 ? std::uint32_t{static_cast<std::uint8_t>(runs[i + 1])} << 8 : 0) |
                            (left > 2 ? std::uint32_t{static_cast<std::uint8_t>(runs[i + 2])} : 0);
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += left > 1 ? kDigits[(v >> 6) & 63] : '=';
    out += left > 2 ? kDigits[v & 63] : '=';
  }
  return out;
}

void Answer(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(json{{"error", message}}.dump(), "application/json");
}

std::string TomlText(const toml::table& table) {
  std::ostringstream out;
  out << table;
  return out.str() + "\n";
}

}  // namespace

struct Server::Impl {
  Options options;
  fs::path workDir;
  fs::path cardDir;
  fs::path flashFile;
  std::unique_ptr<CardSlot> card;
  std::unique_ptr<harness::LiveCamera> camera;
  httplib::Server http;
  int port = 0;

  std::mutex profileMutex;
  std::string profileName;
  std::string profileText;

  std::mutex inspectMutex;  // one inspect at a time: it runs a whole camera
  // A second signal ends the process at once: the working folder goes too, unless a pulled card of
  // --in-place may be waiting in it.
  interrupt::RemoveOnSignal removeWorkDir;

  std::mutex frameMutex;
  std::uint64_t encodedIndex = ~std::uint64_t{0};
  std::string encodedFrame;

  ~Impl() {
    if (camera) camera->Shutdown();
    camera.reset();
    // A pulled card waits in the working folder: back into the card folder with it before that folder goes.
    if (card && !card->inserted() && !card->Insert().empty()) {
      std::cerr << "vupdate serve: the pulled card's files stay in " << workDir << "\n";
      return;
    }
    std::error_code ec;
    if (!workDir.empty()) fs::remove_all(workDir, ec);
  }

  void MakeWorkDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vupdate-serve-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("cannot make a working folder in " + pattern);
    workDir = pattern;
  }

  void SetUp() {
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
      text = ReadFile(profilePath, kLargestProfile);
    }
    sim::Profile profile = sim::ParseProfile(text, name);

    MakeWorkDir();
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
    profileName = name;
    profileText = text;
    camera = std::make_unique<harness::LiveCamera>(std::move(profile), cardDir, flashFile);
  }

  json CameraJson() {
    std::lock_guard lock(profileMutex);
    const sim::Profile p = camera->profile();
    json samples = json::array();
    std::error_code ec;
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(options.samples, ec)) {
      if (e.path().extension() == ".toml") names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    for (auto& n : names) samples.push_back(n);
    auto opt = [](const std::optional<std::uint32_t>& v) { return v ? json(*v) : json(nullptr); };
    return {{"profile", profileName},  {"samples", samples},         {"region", opt(p.region)},
            {"serial", opt(p.serial)}, {"battery", p.power.battery}, {"external_power", p.power.external}};
  }

  json StateJson() {
    const harness::LiveStatus s = camera->Status();
    json files = json::array();
    for (const CardFile& f : card->List())
      files.push_back({{"name", f.name}, {"size", f.size}, {"kind", f.kind}});
    const auto& c = s.flash.counters;
    return {{"on", s.on},
            {"installing", s.installing},
            {"panel", s.panel},
            {"err_code", s.errCode},
            {"led", s.ledValue},
            {"virtual_seconds", s.virtualSeconds},
            {"speed", s.speed},
            {"last_stop", s.lastStop},
            {"frame", s.frameIndex},
            {"flash",
             {{"state", s.flash.state},
              {"percent", s.flash.percent},
              {"erases", c.erases},
              {"blank_checks", c.blankChecks},
              {"words", c.wordsProgrammed},
              {"write_enable_violations", c.writeEnableViolations}}},
            {"card", {{"inserted", card->inserted()}, {"files", files}}},
            {"log", card->LogText(kLogShown)},
            {"camera", CameraJson()}};
  }

  std::string FrameMessage(std::uint64_t* seen) {
    std::lock_guard lock(frameMutex);
    sim::RgbImage image;
    const std::uint64_t index = camera->Frame(nullptr);
    if (index == *seen || index == 0) return {};
    if (index != encodedIndex) {
      encodedIndex = camera->Frame(&image);
      encodedFrame = EncodeFrame(image);
    }
    *seen = encodedIndex;
    return "event: frame\ndata: " + std::to_string(encodedIndex) + " " + encodedFrame + "\n\n";
  }

  // Replaces the profile for the next power-on once it reads as a profile.
  std::string UseProfile(const std::string& name, const std::string& text) {
    try {
      sim::Profile profile = sim::ParseProfile(text, name);
      std::lock_guard lock(profileMutex);
      camera->SetProfile(std::move(profile));
      profileName = name;
      profileText = text;
      return {};
    } catch (const std::exception& e) {
      return e.what();
    }
  }

  std::string EditProfile(const httplib::Request& req) {
    std::string name;
    std::string text;
    {
      std::lock_guard lock(profileMutex);
      name = profileName;
      text = profileText;
    }
    toml::table table;
    try {
      table = toml::parse(text, name);
    } catch (const std::exception& e) {
      return e.what();
    }
    for (const char* key : {"region", "serial", "battery"}) {
      if (!req.has_param(key)) continue;
      const auto value = vupdate::ParseNumber<std::int64_t>(req.get_param_value(key));
      if (!value) return std::string("'") + key + "' must be a number";
      if (std::string_view(key) == "battery") {
        if (!table["power"].is_table()) table.insert_or_assign("power", toml::table{});
        table["power"].as_table()->insert_or_assign("battery", *value);
        table["power"].as_table()->insert_or_assign("external", false);
      } else {
        table.insert_or_assign(key, *value);
      }
    }
    return UseProfile(name.ends_with(" (edited)") ? name : name + " (edited)", TomlText(table));
  }

  std::string Inspect(const std::string& name) {
    std::lock_guard lock(inspectMutex);
    std::optional<fs::path> file;
    if (name.empty()) {
      for (const CardFile& f : card->List()) {
        if (f.kind == "code file") {
          file = card->FilePath(f.name);
          break;
        }
      }
      if (!file) return "No code file on the card.\n";
    } else {
      file = card->FilePath(name);
      if (!file) return "No such file on the card.\n";
    }
    std::string text;
    {
      std::lock_guard profileLock(profileMutex);
      text = profileText;
    }
    const fs::path profile = workDir / "inspect-camera.toml";
    if (vupdate::WriteFileAtomically(profile,
                                     {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}))
      return "Cannot write the camera profile for inspect.\n";
    // The camera's verdict comes from a run of the module, which the live camera is using in this process.
    std::string output =
        RunCapturing({options.vupdate.string(), "inspect", file->string(), "--camera", profile.string()},
                     kInspectOutputMax);
    std::error_code ec;
    fs::remove(profile, ec);
    return output;
  }

  // A change asked for by another origin, or any request by a name that is not this server's own address
  // while it listens on loopback (a rebound DNS name).
  bool ForeignRequest(const httplib::Request& req) const {
    const std::string host = req.get_header_value("Host");
    if (IsLoopback(options.bind)) {
      const std::string name = host.substr(
          0, host.rfind(':') == std::string::npos || host.back() == ']' ? host.size() : host.rfind(':'));
      if (name != "127.0.0.1" && name != "localhost" && name != "[::1]") return true;
    }
    if (req.method == "GET" || req.method == "HEAD") return false;
    const std::string origin = req.get_header_value("Origin");
    return !origin.empty() && origin != "http://" + host;
  }

  static bool IsLoopback(const std::string& address) {
    return address == "127.0.0.1" || address == "localhost" || address == "::1";
  }

  void Routes() {
    http.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    http.set_payload_max_length(kLargestUpdateFile);
    http.set_keep_alive_timeout(2);
    http.set_read_timeout(10);

    // Another site open in the same browser may send requests here too: changes come only from this page.
    http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      if (ForeignRequest(req)) {
        Answer(res, 403, "requests come from this page only");
        return httplib::Server::HandlerResponse::Handled;
      }
      return httplib::Server::HandlerResponse::Unhandled;
    });

    for (std::size_t i = 0; i < kWebAssetCount; ++i) {
      const WebAsset& asset = kWebAssets[i];
      const std::string path = asset.path;
      auto handler = [asset](const httplib::Request&, httplib::Response& res) {
        res.set_content(reinterpret_cast<const char*>(asset.data), asset.size, asset.type);
        res.set_header("Cache-Control", "no-store");
      };
      http.Get(path, handler);
      if (path == "/index.html") http.Get("/", handler);
    }

    http.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(StateJson().dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
    });

    http.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) {
      res.set_header("Cache-Control", "no-store");
      auto seen = std::make_shared<std::pair<std::uint64_t, std::uint64_t>>(0, 0);  // version, frame
      res.set_chunked_content_provider("text/event-stream", [this, seen](std::size_t,
                                                                         httplib::DataSink& sink) {
        if (camera->closing()) return false;
        const std::uint64_t version = camera->WaitForChange(seen->first, 10s);
        if (camera->closing()) return false;
        std::string out;
        if (version == seen->first) {
          out = ": still here\n\n";
        } else {
          seen->first = version;
          out = FrameMessage(&seen->second);
          out += "event: state\ndata: " + StateJson().dump(-1, ' ', false, json::error_handler_t::replace) +
                 "\n\n";
        }
        if (!sink.write(out.data(), out.size())) return false;
        std::this_thread::sleep_for(kStreamPause);
        return true;
      });
    });

    http.Post(R"(/api/key/([a-z]+))", [this](const httplib::Request& req, httplib::Response& res) {
      for (const NamedKey& key : kKeys) {
        if (req.matches[1] == key.name) {
          camera->PressKey(key.code);
          return Answer(res, 200, "");
        }
      }
      Answer(res, 404, "no such key");
    });

    http.Post("/api/speed", [this](const httplib::Request& req, httplib::Response& res) {
      const auto factor = vupdate::ParseNumber<std::int64_t>(req.get_param_value("factor"));
      if (!factor || (*factor != 1 && *factor != 10 && *factor != 100))
        return Answer(res, 400, "speed is 1, 10 or 100");
      camera->SetSpeed(static_cast<double>(*factor));
      Answer(res, 200, "");
    });

    http.Post(R"(/api/fault/([a-z-]+))", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string fault = req.matches[1];
      std::string error;
      if (fault == "power-cut") {
        camera->CutPower();
      } else if (fault == "pull-card") {
        error = card->Pull();
        if (error.empty()) camera->PullCard();
      } else if (fault == "insert-card") {
        error = card->Insert();
      } else if (fault == "low-battery") {
        httplib::Request edit;
        edit.params.emplace("battery", std::to_string(kLowBattery));
        error = EditProfile(edit);
        if (error.empty()) camera->BatteryFallsTo(kLowBattery);
      } else {
        return Answer(res, 404, "no such fault");
      }
      camera->Touch();
      Answer(res, error.empty() ? 200 : 409, error);
    });

    http.Put(R"(/api/card/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string name = req.matches[1];
      if (!ValidCardName(name)) return Answer(res, 400, "not a file name for the card");
      const std::string error = card->Put(name, req.body);
      camera->Touch();
      Answer(res, error.empty() ? 200 : 409, error);
    });
    http.Delete(R"(/api/card/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string name = req.matches[1];
      if (!ValidCardName(name)) return Answer(res, 400, "not a file name for the card");
      const std::string error = card->Remove(name);
      camera->Touch();
      Answer(res, error.empty() ? 200 : 404, error);
    });

    http.Get("/api/flash.bin", [this](const httplib::Request&, httplib::Response& res) {
      const std::vector<std::uint8_t> bytes = camera->FlashContents();
      res.set_header("Content-Disposition", "attachment; filename=\"flash.bin\"");
      res.set_content(reinterpret_cast<const char*>(bytes.data()), bytes.size(), "application/octet-stream");
    });

    http.Get("/api/inspect", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string name = req.get_param_value("file");
      if (!name.empty() && !ValidCardName(name)) return Answer(res, 400, "not a file name for the card");
      res.set_content(Inspect(name), "text/plain; charset=utf-8");
    });

    http.Post("/api/camera", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string error = EditProfile(req);
      Answer(res, error.empty() ? 200 : 400, error);
    });
    http.Post("/api/profile/sample", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string name = req.get_param_value("name");
      std::error_code ec;
      if (!ValidCardName(name) || !name.ends_with(".toml") ||
          !fs::is_regular_file(options.samples / name, ec)) {
        return Answer(res, 404, "no such sample profile");
      }
      std::string error;
      try {
        error = UseProfile(name, ReadFile(options.samples / name, kLargestProfile));
      } catch (const std::exception& e) {
        error = e.what();
      }
      Answer(res, error.empty() ? 200 : 400, error);
    });
    http.Put("/api/profile", [this](const httplib::Request& req, httplib::Response& res) {
      if (req.body.size() > kLargestProfile) return Answer(res, 413, "a profile is at most 16 KiB");
      std::string name = req.get_param_value("name");
      if (!ValidCardName(name)) name = "uploaded.toml";
      const std::string error = UseProfile(name, req.body);
      Answer(res, error.empty() ? 200 : 400, error);
    });

    http.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, const std::exception_ptr& ep) {
          std::string what = "internal error";
          try {
            std::rethrow_exception(ep);
          } catch (const std::exception& e) {
            what = e.what();
          } catch (...) {
          }
          Answer(res, 500, what);
        });
  }
};

Server::Server(Options options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  impl_->SetUp();
  impl_->Routes();
  Impl& i = *impl_;
  i.port = i.options.port == 0 ? i.http.bind_to_any_port(i.options.bind)
                               : (i.http.bind_to_port(i.options.bind, i.options.port) ? i.options.port : -1);
  if (i.port <= 0) {
    throw std::runtime_error("cannot listen on " + i.options.bind + ":" + std::to_string(i.options.port));
  }
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
  impl_->http.listen_after_bind();
}

void Server::Stop() {
  impl_->camera->Shutdown();
  impl_->http.stop();
}

}  // namespace serve

// vupdate-serve's own serve: the server in this process, until a signal stops it.
int Serve(const serve::Options& options, char** /*argv*/) {
  std::unique_ptr<serve::Server> server;
  try {
    server = std::make_unique<serve::Server>(options);
  } catch (const std::exception& e) {
    std::cerr << "vupdate serve: " << e.what() << "\n";
    return kExitUsage;
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
