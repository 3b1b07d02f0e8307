// vupdate serve: the simulated camera in a browser, one camera per server.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hardware.h"

namespace vupdate::serve {

// What one HTTP client may hold of the server.
struct HttpLimits {
  std::size_t headerBytes =
      32 * 1024;  // request line and headers together (cookies of other local pages too)
  std::size_t headerLines = 100;
  std::chrono::milliseconds headerDeadline{5000};  // from a request's first byte to the end of its headers
  std::chrono::milliseconds bodyDeadline{30000};   // from the end of its headers to the end of its body
  std::chrono::milliseconds idle{2000};            // between two requests on one connection
  std::chrono::milliseconds writeTimeout{5000};    // for each part of an answer to leave
  std::size_t requestsPerConnection = 100;
};

struct Options {
  std::string camera;  // profile file; empty: the US sample, or the built-in profile
  std::string card;    // card folder; empty: an empty card
  bool inPlace = false;
  std::string flash;  // empty: a flash file in the working folder
  int port = 8080;    // 0: any free port
  std::string bind = "127.0.0.1";
  std::filesystem::path samples;  // the folder of sample profiles offered on the page
  std::filesystem::path vupdate;  // this program, run for inspect (it needs a process of its own)
  HttpLimits limits;
};

// The largest upload of an update file (header, the whole flash, a generous trailer) and of a profile.
constexpr std::size_t kLargestUpdateFile = 64 + vestra::kFlashSize + 4096;
constexpr std::size_t kLargestProfile = 16 * 1024;
// Live views of the camera open at once (a tab holds one); more are answered 503.
constexpr int kLiveViews = 8;

// 127.0.0.0/8, ::1 (also IPv4-mapped) and localhost: addresses only this machine reaches.
bool IsLoopbackAddress(std::string_view address);

// A file name the card's SYSTEM folder may take from a browser: 1 to 64 of A-Z a-z 0-9 . _ -,
// starting with a letter or digit.
bool ValidCardName(std::string_view name);
// "code file", "font file", "companion file", "update log" or "other", by name as the camera finds them.
std::string CardFileKind(std::string_view name);

struct CardFile {
  std::string name;
  std::uintmax_t size = 0;
  std::string kind;
};

// The card: its folder while in the camera, a holding folder while pulled. Every change goes through
// here, under one lock, and every file lands by an atomic rename.
class CardSlot {
 public:
  CardSlot(std::filesystem::path cardDir, std::filesystem::path pulledDir);

  bool inserted() const;
  std::vector<CardFile> List() const;  // the SYSTEM folder, sorted by name
  std::string LogText(std::size_t maxBytes) const;
  std::optional<std::filesystem::path> FilePath(std::string_view name) const;
  // Each answers an empty string, or why nothing was done.
  std::string Put(std::string_view name, std::string_view bytes);
  std::string Remove(std::string_view name);
  std::string Pull();
  std::string Insert();

 private:
  std::filesystem::path Where() const;  // with mutex_ held
  std::filesystem::path cardDir_;
  std::filesystem::path pulledDir_;
  mutable std::mutex mutex_;
  bool inserted_ = true;
};

class Server {
 public:
  // Checks every option, makes the working folder and binds; throws std::runtime_error naming the problem.
  explicit Server(Options options);
  ~Server();  // stops the camera and removes the working folder
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  int port() const;
  std::string address() const;  // what to open in a browser
  void Run();                   // serves until Stop
  void Stop();                  // from any thread

  struct Impl;  // the state the parts of the server share (cli/serve_impl.h)

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace vupdate::serve
