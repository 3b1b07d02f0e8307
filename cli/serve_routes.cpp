// vupdate serve's HTTP API: one row per request the page makes, and the checks every request passes first.
#include <chrono>
#include <string_view>
#include <thread>

#include "cli/numbers.h"
#include "cli/serve_impl.h"
#include "cli/web_assets.h"
#include "platform/events.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace serve {

namespace {

using namespace std::chrono_literals;
using Impl = Server::Impl;
using httplib::Request;
using httplib::Response;

constexpr std::uint8_t kLowBattery = 3;  // anything but 7 is too low for the updater
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

void Answer(Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(json{{"error", message}}.dump(), "application/json");
}

std::string JsonText(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void GetAsset(Impl&, const Request& req, Response& res) {
  const std::string path = req.path == "/" ? "/index.html" : req.path;
  for (std::size_t i = 0; i < kWebAssetCount; ++i) {
    const WebAsset& asset = kWebAssets[i];
    if (path != asset.path) continue;
    res.set_content(reinterpret_cast<const char*>(asset.data), asset.size, asset.type);
    res.set_header("Cache-Control", "no-store");
    return;
  }
  res.status = 404;
}

void GetState(Impl& s, const Request&, Response& res) {
  res.set_content(JsonText(s.StateJson()), "application/json");
}

void GetEvents(Impl& s, const Request&, Response& res) {
  res.set_header("Cache-Control", "no-store");
  auto seen = std::make_shared<std::pair<std::uint64_t, std::uint64_t>>(0, 0);  // version, frame
  res.set_chunked_content_provider("text/event-stream", [&s, seen](std::size_t, httplib::DataSink& sink) {
    if (s.camera->closing()) return false;
    const std::uint64_t version = s.camera->WaitForChange(seen->first, 10s);
    if (s.camera->closing()) return false;
    std::string out;
    if (version == seen->first) {
      out = ": still here\n\n";
    } else {
      seen->first = version;
      out = s.FrameMessage(&seen->second);
      out += "event: state\ndata: " + JsonText(s.StateJson()) + "\n\n";
    }
    if (!sink.write(out.data(), out.size())) return false;
    std::this_thread::sleep_for(kStreamPause);
    return true;
  });
}

void PressKey(Impl& s, const Request& req, Response& res) {
  for (const NamedKey& key : kKeys) {
    if (req.matches[1] == key.name) {
      s.camera->PressKey(key.code);
      return Answer(res, 200, "");
    }
  }
  Answer(res, 404, "no such key");
}

void SetSpeed(Impl& s, const Request& req, Response& res) {
  const auto factor = vupdate::ParseNumber<std::int64_t>(req.get_param_value("factor"));
  if (!factor || (*factor != 1 && *factor != 10 && *factor != 100))
    return Answer(res, 400, "speed is 1, 10 or 100");
  s.camera->SetSpeed(static_cast<double>(*factor));
  Answer(res, 200, "");
}

void MakeFault(Impl& s, const Request& req, Response& res) {
  const std::string fault = req.matches[1];
  std::string error;
  if (fault == "power-cut") {
    s.camera->CutPower();
  } else if (fault == "pull-card") {
    error = s.card->Pull();
    if (error.empty()) s.camera->PullCard();
  } else if (fault == "insert-card") {
    error = s.card->Insert();
  } else if (fault == "low-battery") {
    error = s.profile->Edit({{"battery", std::to_string(kLowBattery)}});
    if (error.empty()) s.camera->BatteryFallsTo(kLowBattery);
  } else {
    return Answer(res, 404, "no such fault");
  }
  s.camera->Touch();
  Answer(res, error.empty() ? 200 : 409, error);
}

void PutCardFile(Impl& s, const Request& req, Response& res) {
  const std::string name = req.matches[1];
  if (!ValidCardName(name)) return Answer(res, 400, "not a file name for the card");
  const std::string error = s.card->Put(name, req.body);
  s.camera->Touch();
  Answer(res, error.empty() ? 200 : 409, error);
}

void DeleteCardFile(Impl& s, const Request& req, Response& res) {
  const std::string name = req.matches[1];
  if (!ValidCardName(name)) return Answer(res, 400, "not a file name for the card");
  const std::string error = s.card->Remove(name);
  s.camera->Touch();
  Answer(res, error.empty() ? 200 : 404, error);
}

void GetFlash(Impl& s, const Request&, Response& res) {
  const std::vector<std::uint8_t> bytes = s.camera->FlashContents();
  res.set_header("Content-Disposition", "attachment; filename=\"flash.bin\"");
  res.set_content(reinterpret_cast<const char*>(bytes.data()), bytes.size(), "application/octet-stream");
}

void RunInspect(Impl& s, const Request& req, Response& res) {
  const std::string name = req.get_param_value("file");
  if (!name.empty() && !ValidCardName(name)) return Answer(res, 400, "not a file name for the card");
  res.set_content(s.Inspect(name), "text/plain; charset=utf-8");
}

void EditCamera(Impl& s, const Request& req, Response& res) {
  const std::string error = s.profile->Edit(req.params);
  Answer(res, error.empty() ? 200 : 400, error);
}

void UseSampleProfile(Impl& s, const Request& req, Response& res) {
  const std::string name = req.get_param_value("name");
  std::error_code ec;
  if (!ValidCardName(name) || !name.ends_with(".toml") ||
      !fs::is_regular_file(s.options.samples / name, ec)) {
    return Answer(res, 404, "no such sample profile");
  }
  std::string error;
  try {
    error = s.profile->Use(name, ReadTextFile(s.options.samples / name, kLargestProfile));
  } catch (const std::exception& e) {
    error = e.what();
  }
  Answer(res, error.empty() ? 200 : 400, error);
}

void PutProfile(Impl& s, const Request& req, Response& res) {
  if (req.body.size() > kLargestProfile) return Answer(res, 413, "a profile is at most 16 KiB");
  std::string name = req.get_param_value("name");
  if (!ValidCardName(name)) name = "uploaded.toml";
  const std::string error = s.profile->Use(name, req.body);
  Answer(res, error.empty() ? 200 : 400, error);
}

struct Route {
  std::string_view method;
  const char* pattern;  // a regular expression for the whole path
  void (*handle)(Impl&, const Request&, Response&);
};

constexpr Route kRoutes[] = {
    {"GET", R"(/|/[a-z]+\.[a-z]+)", GetAsset},
    {"GET", "/api/state", GetState},
    {"GET", "/api/events", GetEvents},
    {"POST", R"(/api/key/([a-z]+))", PressKey},
    {"POST", "/api/speed", SetSpeed},
    {"POST", R"(/api/fault/([a-z-]+))", MakeFault},
    {"PUT", R"(/api/card/([^/]+))", PutCardFile},
    {"DELETE", R"(/api/card/([^/]+))", DeleteCardFile},
    {"GET", "/api/flash.bin", GetFlash},
    {"GET", "/api/inspect", RunInspect},
    {"POST", "/api/camera", EditCamera},
    {"POST", "/api/profile/sample", UseSampleProfile},
    {"PUT", "/api/profile", PutProfile},
};

bool IsLoopback(const std::string& address) {
  return address == "127.0.0.1" || address == "localhost" || address == "::1";
}

// A change asked for by another origin, or any request by a name that is not this server's own address
// while it listens on loopback (a rebound DNS name).
bool ForeignRequest(const Options& options, const Request& req) {
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

}  // namespace

void Server::Impl::Routes() {
  http.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  http.set_payload_max_length(kLargestUpdateFile);
  http.set_keep_alive_timeout(2);
  http.set_read_timeout(10);

  // Another site open in the same browser may send requests here too: changes come only from this page.
  http.set_pre_routing_handler([this](const Request& req, Response& res) {
    if (ForeignRequest(options, req)) {
      Answer(res, 403, "requests come from this page only");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  for (const Route& route : kRoutes) {
    httplib::Server::Handler handler = [this, handle = route.handle](const Request& req, Response& res) {
      handle(*this, req, res);
    };
    if (route.method == "GET") http.Get(route.pattern, handler);
    if (route.method == "POST") http.Post(route.pattern, handler);
    if (route.method == "PUT") http.Put(route.pattern, handler);
    if (route.method == "DELETE") http.Delete(route.pattern, handler);
  }

  http.set_exception_handler([](const Request&, Response& res, const std::exception_ptr& ep) {
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

}  // namespace serve
