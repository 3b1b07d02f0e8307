// vupdate serve's HTTP API: one row per request the page makes, and the checks every request passes first.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <chrono>
#include <map>
#include <regex>
#include <string_view>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

#include "cli/numbers.h"
#include "cli/serve_http.h"
#include "cli/serve_impl.h"
#include "cli/web_assets.h"
#include "platform/events.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace vupdate::serve {

namespace {

using namespace std::chrono_literals;
using Impl = Server::Impl;
using httplib::Request;
using httplib::Response;

constexpr std::uint8_t kLowBattery = 3;  // anything but 7 is too low for the updater
// Each tab holds a live view; past the cap a tab is told to wait, and threads stay for the page's requests
// and for clients that hold a connection until its deadline.
constexpr std::size_t kServerThreads = 64;
// Requests other than uploads carry their fields in the URL or a small form.
constexpr std::size_t kSmallBody = 4096;
// A quiet stream still writes this often, so that a closed tab is noticed and its live view freed.
constexpr auto kStreamQuiet = 3s;
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

constexpr const char* kCardNames =
    "The card takes names of 1 to 64 letters, digits, '.', '_' and '-' that start with a letter or digit; "
    "the camera reads its code file by the model's name and .BIN (QR40V110.BIN), UPDATE.CAM and UPDATE.CRS.";

bool HasBody(const Request& req) {
  return req.has_header("Transfer-Encoding") || req.get_header_value<std::uint64_t>("Content-Length") > 0;
}

void Answer(Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(json{{"error", message}}.dump(), "application/json");
}

std::string JsonText(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void GetAsset(Impl&, const Request& req, Response& res, const std::string&) {
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

void GetState(Impl& s, const Request&, Response& res, const std::string&) {
  res.set_content(JsonText(s.StateJson()), "application/json");
}

void GetEvents(Impl& s, const Request&, Response& res, const std::string&) {
  // The count goes down when httplib lets go of the stream, however it ends.
  auto view = std::shared_ptr<std::atomic<int>>(&s.liveViews, [](std::atomic<int>* views) { --*views; });
  if (++s.liveViews > kLiveViews) {
    return Answer(
        res, 503,
        "The camera is open in " + std::to_string(kLiveViews) + " views already; close one and reload.");
  }
  res.set_header("Cache-Control", "no-store");
  auto seen = std::make_shared<std::pair<std::uint64_t, std::uint64_t>>(0, 0);  // version, frame
  res.set_chunked_content_provider(
      "text/event-stream", [&s, seen, view](std::size_t, httplib::DataSink& sink) {
        if (s.camera->closing()) return false;
        const std::uint64_t version = s.camera->WaitForChange(seen->first, kStreamQuiet);
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

void PressKey(Impl& s, const Request& req, Response& res, const std::string&) {
  for (const NamedKey& key : kKeys) {
    if (req.matches[1] == key.name) {
      s.camera->PressKey(key.code);
      return Answer(res, 200, "");
    }
  }
  Answer(res, 404, "no such key");
}

void SetSpeed(Impl& s, const Request& req, Response& res, const std::string&) {
  const auto factor = vupdate::ParseNumber<std::int64_t>(req.get_param_value("factor"));
  if (!factor || (*factor != 1 && *factor != 10 && *factor != 100))
    return Answer(res, 400, "speed is 1, 10 or 100");
  s.camera->SetSpeed(static_cast<double>(*factor));
  Answer(res, 200, "");
}

void MakeFault(Impl& s, const Request& req, Response& res, const std::string&) {
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

void PutCardFile(Impl& s, const Request& req, Response& res, const std::string& body) {
  const std::string name = req.matches[1];
  if (!ValidCardName(name)) return Answer(res, 400, kCardNames);
  const std::string error = s.card->Put(name, body);
  s.camera->Touch();
  Answer(res, error.empty() ? 200 : 409, error);
}

void DeleteCardFile(Impl& s, const Request& req, Response& res, const std::string&) {
  const std::string name = req.matches[1];
  if (!ValidCardName(name)) return Answer(res, 400, kCardNames);
  const std::string error = s.card->Remove(name);
  s.camera->Touch();
  Answer(res, error.empty() ? 200 : 404, error);
}

void GetFlash(Impl& s, const Request&, Response& res, const std::string&) {
  const std::vector<std::uint8_t> bytes = s.camera->FlashContents();
  res.set_header("Content-Disposition", "attachment; filename=\"flash.bin\"");
  res.set_content(reinterpret_cast<const char*>(bytes.data()), bytes.size(), "application/octet-stream");
}

void RunInspect(Impl& s, const Request& req, Response& res, const std::string&) {
  const std::string name = req.get_param_value("file");
  if (!name.empty() && !ValidCardName(name)) return Answer(res, 400, kCardNames);
  res.set_content(s.Inspect(name), "text/plain; charset=utf-8");
}

// The fields of an application/x-www-form-urlencoded body, as the page's form sends them.
std::multimap<std::string, std::string> FormFields(std::string_view body) {
  auto decode = [](std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
      unsigned value = 0;
      if (text[i] == '+') {
        out += ' ';
      } else if (text[i] == '%' && i + 2 < text.size() &&
                 std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr ==
                     text.data() + i + 3) {
        out += static_cast<char>(value);
        i += 2;
      } else {
        out += text[i];
      }
    }
    return out;
  };
  std::multimap<std::string, std::string> fields;
  while (!body.empty()) {
    const std::string_view pair = body.substr(0, body.find('&'));
    body.remove_prefix(std::min(body.size(), pair.size() + 1));
    const std::size_t equals = pair.find('=');
    if (equals != std::string_view::npos)
      fields.emplace(decode(pair.substr(0, equals)), decode(pair.substr(equals + 1)));
  }
  return fields;
}

void EditCamera(Impl& s, const Request& req, Response& res, const std::string& body) {
  std::multimap<std::string, std::string> fields = req.params;
  if (req.get_header_value("Content-Type").starts_with("application/x-www-form-urlencoded"))
    fields.merge(FormFields(body));
  const std::string error = s.profile->Edit(fields);
  Answer(res, error.empty() ? 200 : 400, error);
}

void UseSampleProfile(Impl& s, const Request& req, Response& res, const std::string&) {
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

void PutProfile(Impl& s, const Request& req, Response& res, const std::string& body) {
  std::string name = req.get_param_value("name");
  if (!ValidCardName(name)) name = "uploaded.toml";
  const std::string error = s.profile->Use(name, body);
  Answer(res, error.empty() ? 200 : 400, error);
}

struct Route {
  std::string_view method;
  const char* pattern;  // a regular expression for the whole path
  std::size_t maxBody;  // decoded bytes
  void (*handle)(Impl&, const Request&, Response&, const std::string& body);
};

constexpr Route kRoutes[] = {
    {"GET", R"(/|/[a-z]+\.[a-z]+)", 0, GetAsset},
    {"GET", "/api/state", 0, GetState},
    {"GET", "/api/events", 0, GetEvents},
    {"POST", R"(/api/key/([a-z]+))", kSmallBody, PressKey},
    {"POST", "/api/speed", kSmallBody, SetSpeed},
    {"POST", R"(/api/fault/([a-z-]+))", kSmallBody, MakeFault},
    {"PUT", R"(/api/card/([^/]+))", kLargestUpdateFile, PutCardFile},
    {"DELETE", R"(/api/card/([^/]+))", kSmallBody, DeleteCardFile},
    {"GET", "/api/flash.bin", 0, GetFlash},
    {"POST", "/api/inspect", kSmallBody, RunInspect},
    {"POST", "/api/camera", kSmallBody, EditCamera},
    {"POST", "/api/profile/sample", kSmallBody, UseSampleProfile},
    {"PUT", "/api/profile", kLargestProfile, PutProfile},
};

std::string TooLarge(const Route& route) {
  const std::string most = std::to_string(route.maxBody) + " bytes";
  if (route.handle == PutCardFile)
    return "A file for the card is at most " + most + ": a header, the whole flash and a trailer.";
  if (route.handle == PutProfile) return "A camera profile is at most " + most + ".";
  return "This request takes at most " + most + ".";
}

// A request whose body goes unread, or is refused halfway: the connection closes after the answer, since
// what is left of the body would read as the next request.
void Refuse(Response& res, int status, const std::string& message) {
  Answer(res, status, message);
  res.set_header("Connection", "close");
  GuardedHttpServer::CloseAfterThisRequest();
}

// The names this server answers to: the loopback names, the address the request came in on, and the
// machine's own name. Any other name in Host is a DNS name that someone pointed at this address. The port
// may be any: a forwarded one (ssh -L) reaches the same server.
bool OwnHost(std::string_view host, const Request& req) {
  std::string_view name = host;
  if (const std::size_t colon = host.rfind(':'); colon != std::string_view::npos && !host.ends_with("]"))
    name = host.substr(0, colon);
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  if (lower == "localhost" || lower == "127.0.0.1" || lower == "[::1]") return true;
  std::string local = req.local_addr;
  if (local.starts_with("::ffff:")) local.erase(0, 7);
  if (local.find(':') != std::string::npos) local = "[" + local + "]";
  if (!local.empty() && lower == local) return true;
  char machine[256] = {};
  return ::gethostname(machine, sizeof machine - 1) == 0 && *machine != '\0' && lower == machine;
}

// A change asked for by another site open in the same browser: its Origin, or without one, the browser's
// Sec-Fetch-Site or a Referer of another site.
bool CrossSite(const Request& req) {
  const std::string self = "http://" + req.get_header_value("Host");
  if (req.has_header("Origin")) return req.get_header_value("Origin") != self;
  const std::string site = req.get_header_value("Sec-Fetch-Site");
  if (!site.empty() && site != "same-origin" && site != "none") return true;
  const std::string referer = req.get_header_value("Referer");
  return !referer.empty() && referer != self && !referer.starts_with(self + "/");
}

bool IsDigits(std::string_view text) {
  return !text.empty() && text.size() <= 19 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Everything a request is refused for before its body is read; the status, or 0 to go on.
int Screen(const Request& req, const Route* route, std::string& why) {
  if (req.get_header_value_count("Host") != 1 || !OwnHost(req.get_header_value("Host"), req)) {
    why = "this server answers only to its own address";
    return 403;
  }
  const bool change = req.method != "GET" && req.method != "HEAD";
  if (change && CrossSite(req)) {
    why = "changes come from this server's own page only";
    return 403;
  }
  if (req.get_header_value_count("Content-Length") > 1 ||
      (req.has_header("Content-Length") && !IsDigits(req.get_header_value("Content-Length"))) ||
      (req.has_header("Content-Length") && req.has_header("Transfer-Encoding"))) {
    why = "the request's length is not clear";
    return 400;
  }
  if (req.has_header("Transfer-Encoding") && req.get_header_value("Transfer-Encoding") != "chunked") {
    why = "a body is sent as it is or chunked, nothing else";
    return 501;
  }
  if (req.has_header("Content-Encoding") && req.get_header_value("Content-Encoding") != "identity") {
    why = "send the file as it is, not compressed";
    return 415;
  }
  if (req.ranges.size() > 1) {
    why = "one range at a time";
    return 416;
  }
  if (route == nullptr) {
    why = "nothing here";
    return 404;
  }
  const std::uint64_t length =
      req.has_header("Content-Length") ? std::stoull(req.get_header_value("Content-Length")) : 0;
  if (route->maxBody == 0 && (length > 0 || req.has_header("Transfer-Encoding"))) {
    why = "this request takes no body";
    return 400;
  }
  if (length > route->maxBody) {
    why = TooLarge(*route);
    return 413;
  }
  return 0;
}

}  // namespace

void Server::Impl::Routes() {
  // A thread per connection that may be open at once: the live views (capped), the page's requests, and
  // room for clients that hold a connection until its deadline.
  http = std::make_unique<GuardedHttpServer>(options.limits);
  http->new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  http->set_payload_max_length(kLargestUpdateFile);
  http->set_keep_alive_timeout(2);
  // Whatever is already listening on the port keeps it: no second server beside it (httplib's own
  // options add SO_REUSEPORT, under which both would listen).
  http->set_socket_options([](socket_t sock) {
    const int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  http->set_default_headers({{"Content-Security-Policy", "frame-ancestors 'none'"},
                             {"X-Content-Type-Options", "nosniff"},
                             {"Referrer-Policy", "same-origin"}});

  static const std::vector<std::regex> patterns = [] {
    std::vector<std::regex> all;
    for (const Route& route : kRoutes) all.emplace_back(route.pattern);
    return all;
  }();
  http->set_pre_routing_handler([this](const Request& req, Response& res) {
    const Route* route = nullptr;
    bool pathKnown = false;
    for (std::size_t i = 0; i < std::size(kRoutes) && route == nullptr; ++i) {
      if (!std::regex_match(req.path, patterns[i])) continue;
      pathKnown = true;
      if (kRoutes[i].method == req.method || (req.method == "HEAD" && kRoutes[i].method == "GET"))
        route = &kRoutes[i];
    }
    std::string why;
    int status = Screen(req, route, why);
    if (status == 404 && pathKnown) {
      status = 405;
      why = "not with " + req.method;
    }
    if (status != 0) {
      Refuse(res, status, why);
      return httplib::Server::HandlerResponse::Handled;
    }
    // Chunked framing may add to the decoded bytes, which each handler counts itself.
    GuardedHttpServer::LimitBody(route->maxBody * 2 + 64 * 1024);
    return httplib::Server::HandlerResponse::Unhandled;
  });

  for (const Route& route : kRoutes) {
    if (route.method == "GET") {
      http->Get(route.pattern,
                [this, &route](const Request& req, Response& res) { route.handle(*this, req, res, {}); });
      continue;
    }
    // Every body is read here, counted as it is decoded, and refused as soon as it passes the route's limit.
    httplib::Server::HandlerWithContentReader handler = [this, &route](const Request& req, Response& res,
                                                                       const httplib::ContentReader& reader) {
      std::string body;
      if (HasBody(req)) {
        bool tooLarge = false;
        const bool read = reader([&](const char* data, std::size_t n) {
          tooLarge = body.size() + n > route.maxBody;
          if (!tooLarge) body.append(data, n);
          return !tooLarge;
        });
        if (tooLarge) return Refuse(res, 413, TooLarge(route));
        if (!read) return Refuse(res, 400, "the request's body was cut short");
      }
      route.handle(*this, req, res, body);
    };
    if (route.method == "POST") http->Post(route.pattern, handler);
    if (route.method == "PUT") http->Put(route.pattern, handler);
    if (route.method == "DELETE") http->Delete(route.pattern, handler);
  }

  http->set_exception_handler([](const Request&, Response& res, const std::exception_ptr& ep) {
    std::string what = "internal error";
    try {
      std::rethrow_exception(ep);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    Refuse(res, 500, what);
  });
}

}  // namespace vupdate::serve
