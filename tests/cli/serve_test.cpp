// vupdate serve's HTTP API: what a browser, a script or a stranger may send, and that nothing escapes the
// card; and how vupdate hands the command to vupdate-serve.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <tuple>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "cli/serve.h"
#include "tests/cli/cli_fixture.h"

namespace fs = std::filesystem;

namespace {

class ServeApi : public ::testing::Test {
 public:
  virtual void Configure(vupdate::serve::Options&) {}

  void SetUp() override {
    root_ = fs::temp_directory_path() / ("serve-test-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "card" / "SYSTEM");
    vupdate::serve::Options options;
    options.card = (root_ / "card").string();
    options.flash = (root_ / "flash.bin").string();
    options.port = 0;
    options.vupdate = VUPDATE_PATH;
    Configure(options);
    host_ = options.bind;
    server_ = std::make_unique<vupdate::serve::Server>(options);
    thread_ = std::thread([this] { server_->Run(); });
    client_ = std::make_unique<httplib::Client>(host_, server_->port());
    client_->set_read_timeout(10, 0);
  }
  void TearDown() override {
    if (server_) server_->Stop();
    if (thread_.joinable()) thread_.join();
    server_.reset();
    fs::remove_all(root_);
  }

  // The working copy of the card as the server lists it, less the log the camera writes on its own.
  std::vector<std::string> CardNames() {
    auto res = client_->Get("/api/state");
    std::vector<std::string> names;
    if (!res) return names;
    for (std::size_t at = res->body.find("\"name\":\""); at != std::string::npos;
         at = res->body.find("\"name\":\"", at + 1)) {
      const std::size_t start = at + 8;
      std::string name = res->body.substr(start, res->body.find('"', start) - start);
      if (name != "UPDATE.LOG") names.push_back(std::move(name));
    }
    return names;
  }

  // Sends raw bytes and answers the first line of the reply, or "" when the server just closed.
  std::string Raw(const std::string& bytes, bool halfClose) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(server_->port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      (void)!::write(fd, bytes.data(), bytes.size());
      if (halfClose) ::shutdown(fd, SHUT_WR);
      char buffer[256];
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) reply.assign(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return reply.substr(0, reply.find("\r\n"));
  }

  fs::path root_;
  std::string host_;
  std::unique_ptr<vupdate::serve::Server> server_;
  std::thread thread_;
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(ServeApi, RefusesWhatItMustAndStaysUp) {
  struct Row {
    const char* method;
    std::string path;
    std::string body;
    int status;
  };
  const std::string tooLarge(vupdate::serve::kLargestUpdateFile + 1, 'x');
  const std::string largeProfile(vupdate::serve::kLargestProfile + 1, '#');
  const Row rows[] = {
      {"PUT", "/api/card/..%2F..%2Fescaped", "x", 404},
      {"PUT", "/api/card/..", "x", 400},
      {"PUT", "/api/card/.hidden", "x", 400},
      {"PUT", "/api/card/a%20b.BIN", "x", 400},
      {"PUT", "/api/card/" + std::string(65, 'A'), "x", 400},
      {"PUT", "/api/card/QR40BIG.BIN", tooLarge, 413},
      {"DELETE", "/api/card/NOTHERE.BIN", "", 404},
      {"PUT", "/api/profile", largeProfile, 413},
      {"PUT", "/api/profile", "battery = [", 400},
      {"PUT", "/api/profile", "no_such_key = 1", 400},
      {"POST", "/api/profile/sample?name=..%2F..%2Fetc%2Fpasswd", "", 404},
      {"POST", "/api/key/shutter", "", 404},
      {"POST", "/api/speed?factor=7", "", 400},
      {"POST", "/api/camera?battery=lots", "", 400},
      {"POST", "/api/camera?region=99999999999", "", 400},
      {"POST", "/api/camera?battery=256", "", 400},
      {"POST", "/api/camera?serial=-1", "", 400},
      {"POST", "/api/fault/meteor", "", 404},
      {"POST", "/api/inspect?file=..%2Fflash.bin", "", 400},
      {"GET", "/api/nothing", "", 404},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.method) + " " + row.path.substr(0, 80));
    httplib::Result res =
        std::string(row.method) == "PUT"    ? client_->Put(row.path, row.body, "application/octet-stream")
        : std::string(row.method) == "POST" ? client_->Post(row.path, row.body, "text/plain")
        : std::string(row.method) == "GET"  ? client_->Get(row.path)
                                            : client_->Delete(row.path);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, row.status);
  }
  EXPECT_TRUE(CardNames().empty());
  EXPECT_FALSE(fs::exists(root_ / "escaped"));
  EXPECT_FALSE(fs::exists(root_ / "card" / "escaped"));

  // Junk, a request cut short, a body that never comes: the server answers or drops them and carries on.
  EXPECT_EQ(Raw("GARBAGE\r\n\r\n", false), "HTTP/1.1 400 Bad Request");
  EXPECT_EQ(Raw(std::string(10000, 'G'), true), "");
  EXPECT_EQ(Raw("PUT /api/card/QR40CUT.BIN HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100000\r\n\r\nonly "
                "a little",
                true),
            "");
  // Another site in the same browser, or a DNS name rebound to this address.
  EXPECT_EQ(Raw("POST /api/key/left HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://elsewhere.example\r\n"
                "Content-Length: 0\r\n\r\n",
                false),
            "HTTP/1.1 403 Forbidden");
  EXPECT_EQ(Raw("GET /api/state HTTP/1.1\r\nHost: rebound.example:8080\r\n\r\n", false),
            "HTTP/1.1 403 Forbidden");
  auto state = client_->Get("/api/state");
  ASSERT_TRUE(state);
  EXPECT_EQ(state->status, 200);
  EXPECT_TRUE(CardNames().empty()) << "no half upload on the card";
}

TEST_F(ServeApi, FilesComeAndGoOnlyInTheCardsSystemFolder) {
  auto put = client_->Put("/api/card/QR40V110.BIN", std::string(100, '\x5A'), "application/octet-stream");
  ASSERT_TRUE(put);
  EXPECT_EQ(put->status, 200);
  EXPECT_EQ(CardNames(), std::vector<std::string>{"QR40V110.BIN"});
  // Inspect names the file as the page does, with no path of the server's working folder.
  auto inspect = client_->Post("/api/inspect", "", "text/plain");
  ASSERT_TRUE(inspect);
  EXPECT_EQ(inspect->body.rfind("QR40V110.BIN: 100 bytes", 0), 0u) << inspect->body;
  EXPECT_EQ(inspect->body.find("vupdate-serve-"), std::string::npos) << inspect->body;
  // --card was copied: the original folder is untouched.
  EXPECT_FALSE(fs::exists(root_ / "card" / "SYSTEM" / "QR40V110.BIN"));

  auto pull = client_->Post("/api/fault/pull-card", "", "text/plain");
  ASSERT_TRUE(pull);
  EXPECT_EQ(pull->status, 200);
  EXPECT_EQ(client_->Put("/api/card/QR40V111.BIN", "x", "application/octet-stream")->status, 409);
  EXPECT_EQ(client_->Post("/api/fault/insert-card", "", "text/plain")->status, 200);
  EXPECT_EQ(CardNames(), std::vector<std::string>{"QR40V110.BIN"});

  EXPECT_EQ(client_->Delete("/api/card/QR40V110.BIN")->status, 200);
  EXPECT_TRUE(CardNames().empty());

  // The page's camera form sends its fields as a form body.
  auto edit = client_->Post("/api/camera", "battery=3&region=%32", "application/x-www-form-urlencoded");
  ASSERT_TRUE(edit);
  EXPECT_EQ(edit->status, 200) << edit->body;
  auto state = client_->Get("/api/state");
  ASSERT_TRUE(state);
  EXPECT_NE(state->body.find("\"battery\":3,"), std::string::npos) << state->body.substr(0, 400);
  EXPECT_NE(state->body.find("\"region\":2,"), std::string::npos) << state->body.substr(0, 400);

  auto flash = client_->Get("/api/flash.bin");
  ASSERT_TRUE(flash);
  EXPECT_EQ(flash->body.size(), 0x200000u);
}

TEST_F(ServeApi, SeveralTabsAtOnceAndTabsThatClose) {
  std::vector<std::thread> tabs;
  std::atomic<int> streamed{0};
  for (int t = 0; t < 3; ++t) {
    // A tab that watches the stream for a while and is then closed.
    tabs.emplace_back([&] {
      httplib::Client tab("127.0.0.1", server_->port());
      std::size_t seen = 0;
      tab.Get("/api/events", [&](const char*, std::size_t n) {
        seen += n;
        return seen < 20000;
      });
      if (seen > 0) ++streamed;
    });
  }
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    tabs.emplace_back([&, t] {
      httplib::Client tab("127.0.0.1", server_->port());
      const std::string name = "QR40TAB" + std::to_string(t) + ".BIN";
      for (int i = 0; i < 15; ++i) {
        const char* key = i % 3 == 0 ? "/api/key/left" : i % 3 == 1 ? "/api/key/right" : "/api/key/debug";
        auto a = tab.Post(key, "", "text/plain");
        auto b = tab.Put("/api/card/" + name, std::string(1000 + i, 'x'), "application/octet-stream");
        auto c = tab.Get("/api/state");
        if (!a || a->status != 200 || !b || b->status != 200 || !c || c->status != 200) ++failures;
        if (i % 2 == 1 && tab.Delete("/api/card/" + name)->status != 200) ++failures;
      }
    });
  }
  for (auto& tab : tabs) tab.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(streamed, 3);
  EXPECT_EQ(CardNames(),
            (std::vector<std::string>{"QR40TAB0.BIN", "QR40TAB1.BIN", "QR40TAB2.BIN", "QR40TAB3.BIN"}));
  for (const auto& entry : fs::directory_iterator(root_)) {
    EXPECT_TRUE(entry.path().filename() == "card" || entry.path().filename() == "flash.bin") << entry.path();
  }
}

class ServeHandOver : public cli_test::CliTest {};

// vupdate runs vupdate-serve in its own place, first beside it, then where the package installs it, with the
// arguments it was given; its exit status is the command's.
// The page names a card file as the camera takes it: a code file only in the case the camera looks for.
TEST(ServeCard, FilesAreKindsAsTheCameraSeesThem) {
  const std::pair<const char*, const char*> rows[] = {
      {"QR40V110.BIN", "code file"},    {"QR40.BIN", "code file"},    {"qr40x.bin", "other"},
      {"QR40X.bin", "other"},           {"QR4.BIN", "other"},         {"UPDATE.CRS", "font file"},
      {"UPDATE.CAM", "companion file"}, {"UPDATE.LOG", "update log"}, {"update.log", "other"},
  };
  for (const auto& [name, kind] : rows) EXPECT_EQ(vupdate::serve::CardFileKind(name), kind) << name;
}

// A card folder whose name reads as an option, given as a relative path: inspect still reads the file.
TEST(ServeInspect, ACardFolderNamedLikeAnOption) {
  const fs::path root = fs::temp_directory_path() / ("serve-dash-" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "-card" / "SYSTEM");
  const fs::path before = fs::current_path();
  fs::current_path(root);
  std::string output;
  {
    vupdate::serve::Options options;
    options.card = "-card";
    options.inPlace = true;
    options.flash = (root / "flash.bin").string();
    options.port = 0;
    options.vupdate = VUPDATE_PATH;
    vupdate::serve::Server server(options);
    std::thread thread([&] { server.Run(); });
    httplib::Client client("127.0.0.1", server.port());
    client.set_read_timeout(30, 0);
    EXPECT_EQ(client.Put("/api/card/QR40V110.BIN", std::string(100, 'Z'), "application/octet-stream")->status,
              200);
    if (auto res = client.Post("/api/inspect", "", "text/plain")) output = res->body;
    server.Stop();
    thread.join();
  }
  fs::current_path(before);
  fs::remove_all(root);
  EXPECT_EQ(output.rfind("QR40V110.BIN: 100 bytes", 0), 0u) << output;
}

// Binding beyond these warns: anyone who reaches such an address drives the camera.
TEST(ServeBind, LoopbackAddressesAreOnlyThisMachines) {
  const std::pair<const char*, bool> rows[] = {
      {"127.0.0.1", true},    {"127.0.0.2", true},        {"127.255.0.9", true},      {"::1", true},
      {"localhost", true},    {"::ffff:127.0.0.1", true}, {"0.0.0.0", false},         {"::", false},
      {"192.168.1.5", false}, {"127.example", false},     {"::ffff:10.0.0.1", false}, {"", false},
  };
  for (const auto& [address, loopback] : rows)
    EXPECT_EQ(vupdate::serve::IsLoopbackAddress(address), loopback) << address;
}

TEST_F(ServeHandOver, FindsVupdateServeOrSaysWhereItLooked) {
  enum class Put { kNothing, kServer, kPlainFile };
  struct Case {
    const char* name;
    Put beside, libexec;
    int exit;
    const char* out;
    const char* err;  // a part of standard error
  };
  const Case cases[] = {
      {"nowhere", Put::kNothing, Put::kNothing, 2, "",
       "vupdate serve: vupdate-serve not found next to vupdate or in ../libexec/vestra-updater\n"},
      {"installed", Put::kNothing, Put::kServer, 7, "libexec serve --port 0 --bind 127.0.0.2\n", ""},
      {"beside first", Put::kServer, Put::kServer, 7, "bin serve --port 0 --bind 127.0.0.2\n", ""},
      {"not executable", Put::kPlainFile, Put::kServer, 2, "", "vupdate serve: cannot start "},
  };
  const fs::path root = dir_.path() / "install";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root);
    program_ = root / "bin" / "vupdate";
    fs::create_directories(program_.parent_path());
    fs::copy_file(VUPDATE_PATH, program_);
    const std::tuple<Put, fs::path, const char*> places[] = {
        {c.beside, root / "bin", "bin"}, {c.libexec, root / "libexec" / "vestra-updater", "libexec"}};
    for (const auto& [put, where, tag] : places) {
      if (put == Put::kNothing) continue;
      // A stand-in that names its place and repeats its arguments.
      cli_test::WriteFile(where / "vupdate-serve",
                          std::string("#!/bin/sh\necho ") + tag + " \"$*\"\nexit 7\n");
      if (put == Put::kServer)
        fs::permissions(where / "vupdate-serve", fs::perms::owner_exec, fs::perm_options::add);
    }
    const cli_test::Outcome o = Vupdate({"serve", "--port", "0", "--bind", "127.0.0.2"});
    EXPECT_EQ(o.exit, c.exit) << o.err;
    EXPECT_EQ(o.out, c.out);
    EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
  }
}

// A client that does what no browser does: each row is one way to hold, fill or fool the server, and what
// the client saw of it. Every row runs against a fresh server bound to 127.0.0.2, a loopback address that
// is not the usual one, with deadlines short enough for a test.
class ServeHostile;
struct HostileRow {
  const char* name;
  std::function<std::string(ServeHostile&)> act;
  const char* seen;  // a part of what act answers
};

void PrintTo(const HostileRow& row, std::ostream* out) {
  *out << row.name;
}

class ServeHostile : public ServeApi, public ::testing::WithParamInterface<HostileRow> {
 public:
  void Configure(vupdate::serve::Options& options) override {
    options.bind = "127.0.0.2";
    options.limits.headerDeadline = std::chrono::milliseconds(1000);
    options.limits.bodyDeadline = std::chrono::milliseconds(1500);
  }

  int Connect() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(server_->port()));
    ::inet_pton(AF_INET, host_.c_str(), &address.sin_addr);
    const timeval wait{4, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ADD_FAILURE() << "connect";
    return fd;
  }
  static void Send(int fd, std::string_view bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
      const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
  }
  // The reply's status line and headers, or "" when none came within the socket's wait.
  static std::string Head(int fd) {
    std::string reply;
    char c = 0;
    while (reply.find("\r\n\r\n") == std::string::npos && ::recv(fd, &c, 1, 0) == 1) reply += c;
    return reply;
  }
  std::string Request(const std::string& line, const std::string& headers = "",
                      const std::string& body = "") {
    return line + " HTTP/1.1\r\nHost: " + host_ + ":" + std::to_string(server_->port()) + "\r\n" + headers +
           "\r\n" + body;
  }
  std::string Exchange(const std::string& bytes) {
    const int fd = Connect();
    Send(fd, bytes);
    std::string head = Head(fd);
    ::close(fd);
    return head;
  }
  // Sends the request's start, then one piece every quarter second until an answer comes or 3 s pass.
  std::string Drip(const std::string& start, const std::string& piece) {
    const int fd = Connect();
    Send(fd, start);
    for (int i = 0; i < 12; ++i) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 250) > 0) break;
      Send(fd, piece);
    }
    std::string head = Head(fd);
    ::close(fd);
    return head;
  }
};

std::string Gzip100000x() {
  const char start[] =
      "\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\xed\xc1\x31\x01\x00\x00\x00\xc2\xa0\xda\x8b\x6f\x0d\x0f\xa0";
  const char end[] = "\x80\x57\x03\x71\x11\x07\xfe\xa0\x86\x01\x00";
  return std::string(start, 25) + std::string(96, '\0') + std::string(end, 11);
}

const HostileRow kHostileRows[] = {
    {"ChunkedUploadPastTheLimit",
     [](ServeHostile& t) {
       std::string chunks;
       const std::string chunk(64 * 1024, 'x');
       for (std::size_t sent = 0; sent <= vupdate::serve::kLargestUpdateFile; sent += chunk.size())
         chunks += "10000\r\n" + chunk + "\r\n";
       return t.Exchange(
           t.Request("PUT /api/card/QR40BIG.BIN", "Transfer-Encoding: chunked\r\n", chunks + "0\r\n\r\n"));
     },
     "HTTP/1.1 413"},
    {"CompressedBody",
     [](ServeHostile& t) {
       const std::string body = Gzip100000x();
       return t.Exchange(t.Request(
           "PUT /api/card/QR40GZ.BIN",
           "Content-Encoding: gzip\r\nContent-Length: " + std::to_string(body.size()) + "\r\n", body));
     },
     "HTTP/1.1 415"},
    {"ProfileLengthPastTheLimitAnsweredBeforeTheBody",
     [](ServeHostile& t) {
       return t.Exchange(t.Request("PUT /api/profile", "Content-Length: 100000000\r\n"));
     },
     "HTTP/1.1 413"},
    {"ManyRangesOfTheFlash",
     [](ServeHostile& t) {
       std::string ranges = "Range: bytes=0-2097151";
       for (int i = 0; i < 300; ++i) ranges += ",0-2097151";
       return t.Exchange(t.Request("GET /api/flash.bin", ranges + "\r\n"));
     },
     "HTTP/1.1 416"},
    {"HundredThousandHeaderLines",
     [](ServeHostile& t) {
       std::string lines;
       for (int i = 0; i < 100000; ++i) lines += "X-Filler: 0\r\n";
       return t.Exchange(t.Request("GET /api/state", lines));
     },
     "HTTP/1.1 431"},
    {"HeadPastItsSize",
     [](ServeHostile& t) {
       const std::string line = "X-Filler: " + std::string(7000, 'y') + "\r\n";
       return t.Exchange(t.Request("GET /api/state", line + line + line + line + line));
     },
     "HTTP/1.1 431"},
    {"HeaderLinesDrippedPastTheDeadline",
     [](ServeHostile& t) {
       const std::string start = t.Request("GET /api/state");
       return t.Drip(start.substr(0, start.size() - 2), "X-Slow: 1\r\n");
     },
     "HTTP/1.1 408"},
    {"BodyDrippedPastTheDeadline",
     [](ServeHostile& t) {
       return t.Drip(t.Request("PUT /api/card/QR40SLOW.BIN", "Content-Length: 100\r\n"), "x");
     },
     "HTTP/1.1 408"},
    {"LiveViewsPastTheCap",
     [](ServeHostile& t) {
       std::vector<int> views;
       std::string seen;
       for (int i = 0; i < vupdate::serve::kLiveViews; ++i) {
         views.push_back(t.Connect());
         ServeHostile::Send(views.back(), t.Request("GET /api/events"));
         if (ServeHostile::Head(views.back()).starts_with("HTTP/1.1 200")) seen += "+";
       }
       seen += t.Exchange(t.Request("GET /api/events"));
       for (int fd : views) ::close(fd);
       return seen;
     },
     "++++++++HTTP/1.1 503"},
    {"SlowClientsDoNotStarveThePage",
     [](ServeHostile& t) {
       std::vector<int> slow;
       for (int i = 0; i < 40; ++i) {
         slow.push_back(t.Connect());
         ServeHostile::Send(slow.back(), "GET /api/state HTTP/1.1\r\n");
       }
       const std::string seen = t.Exchange(t.Request("GET /api/state"));
       for (int fd : slow) ::close(fd);
       return seen;
     },
     "HTTP/1.1 200"},
    {"AnotherNameForThisAddress",
     [](ServeHostile& t) { return t.Exchange("GET /api/state HTTP/1.1\r\nHost: evil.example\r\n\r\n"); },
     "HTTP/1.1 403"},
    {"AnotherNameWithItsOwnOrigin",
     [](ServeHostile& t) {
       return t.Exchange(
           "DELETE /api/card/QR40.BIN HTTP/1.1\r\nHost: evil.example\r\nOrigin: http://evil.example\r\n\r\n");
     },
     "HTTP/1.1 403"},
    {"CrossSiteWithoutOrigin",
     [](ServeHostile& t) {
       return t.Exchange(t.Request("POST /api/key/power", "Sec-Fetch-Site: cross-site\r\n"));
     },
     "HTTP/1.1 403"},
    {"ForeignReferer",
     [](ServeHostile& t) {
       return t.Exchange(t.Request("POST /api/key/power", "Referer: http://evil.example/page\r\n"));
     },
     "HTTP/1.1 403"},
    {"PageRefusesToBeFramed", [](ServeHostile& t) { return t.Exchange(t.Request("GET /")); },
     "Content-Security-Policy: frame-ancestors 'none'"},
    {"InspectIsNotAGet", [](ServeHostile& t) { return t.Exchange(t.Request("GET /api/inspect")); },
     "HTTP/1.1 405"},
    {"PortAlreadyInUse",
     [](ServeHostile& t) {
       vupdate::serve::Options options;
       options.bind = t.host_;
       options.port = t.server_->port();
       try {
         vupdate::serve::Server second(options);
         return std::string("a second server started");
       } catch (const std::exception& e) {
         return std::string(e.what());
       }
     },
     "is in use: another server listens there"},
    {"StopDoesNotWaitForASlowClient",
     [](ServeHostile& t) {
       const int fd = t.Connect();
       ServeHostile::Send(fd, t.Request("PUT /api/card/QR40SLOW.BIN", "Content-Length: 1000\r\n", "x"));
       std::atomic<bool> done{false};
       std::thread drip([&] {
         for (int i = 0; i < 25 && !done; ++i) {
           std::this_thread::sleep_for(std::chrono::milliseconds(200));
           ServeHostile::Send(fd, "x");
         }
       });
       std::this_thread::sleep_for(std::chrono::milliseconds(300));
       const auto start = std::chrono::steady_clock::now();
       t.server_->Stop();
       t.thread_.join();
       const auto took = std::chrono::steady_clock::now() - start;
       done = true;
       drip.join();
       ::close(fd);
       t.server_.reset();
       // Sooner than the body's own deadline: the server cut the client instead of waiting for it.
       return std::string(took < std::chrono::milliseconds(1000) ? "stopped at once" : "waited");
     },
     "stopped at once"},
};

TEST_P(ServeHostile, RefusesAndStaysUp) {
  const std::string seen = GetParam().act(*this);
  EXPECT_NE(seen.find(GetParam().seen), std::string::npos) << seen.substr(0, 300);
  if (!server_) return;
  EXPECT_TRUE(CardNames().empty()) << "nothing reached the card";
  auto state = client_->Get("/api/state");
  ASSERT_TRUE(state);
  EXPECT_EQ(state->status, 200);
}

INSTANTIATE_TEST_SUITE_P(Rows, ServeHostile, ::testing::ValuesIn(kHostileRows),
                         [](const ::testing::TestParamInfo<HostileRow>& info) { return info.param.name; });

}  // namespace
