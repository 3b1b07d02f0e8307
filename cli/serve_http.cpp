// Connections of vupdate serve's HTTP server: each request read against its limits and deadlines.
#include "cli/serve_http.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vupdate::serve {

namespace {

using Clock = std::chrono::steady_clock;

// What the handlers of the request being read may say about its connection.
struct ConnectionNotes {
  bool closeAfter = false;
  std::size_t bodyLimit = 0;
};
thread_local ConnectionNotes* tNotes = nullptr;

// Waits until fd is ready for events or the deadline passes.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

void Address(const sockaddr_storage& address, std::string& ip, int& port) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    port = ntohs(v4.sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    port = ntohs(v6.sin6_port);
  }
  ip = text;
}

// One request's bytes: its head counted in bytes and lines until the blank line, its body in bytes, each
// against its deadline. Past a limit the stream answers for itself (408, 413 or 431, and the connection
// closes), and whatever httplib writes after that goes nowhere.
class GuardedStream : public httplib::Stream {
 public:
  GuardedStream(int fd, const HttpLimits& limits, const ConnectionNotes& notes)
      : fd_(fd), limits_(limits), notes_(notes), deadline_(Clock::now() + limits.headerDeadline) {}

  bool refused() const { return refused_; }
  bool failed() const { return failed_; }

  bool is_readable() const override { return pos_ < len_ || WaitFor(fd_, POLLIN, deadline_); }
  bool is_writable() const override {
    return !failed_ && WaitFor(fd_, POLLOUT, Clock::now() + limits_.writeTimeout);
  }

  ssize_t read(char* ptr, size_t size) override {
    if (refused_ || failed_) return -1;
    if (pos_ == len_) {
      if (!WaitFor(fd_, POLLIN, deadline_)) return Refuse(408, "Request Timeout");
      const ssize_t n = ::recv(fd_, buffer_.data(), buffer_.size(), 0);
      if (n <= 0) {
        failed_ = true;
        return n < 0 ? -1 : 0;
      }
      pos_ = 0;
      len_ = static_cast<std::size_t>(n);
    }
    std::size_t n = std::min(size, len_ - pos_);
    if (inHead_) {
      // The head ends at its blank line; the bytes after it are the body's.
      for (std::size_t i = 0; i < n; ++i) {
        const char c = buffer_[pos_ + i];
        ++headBytes_;
        if (c != '\n') {
          if (c != '\r') ++lineLength_;
          continue;
        }
        if (lineLength_ == 0 && lines_ > 0) {
          inHead_ = false;
          deadline_ = Clock::now() + limits_.bodyDeadline;
          n = i + 1;
          break;
        }
        ++lines_;
        lineLength_ = 0;
      }
      if (headBytes_ > limits_.headerBytes || lines_ > limits_.headerLines)
        return Refuse(431, "Request Header Fields Too Large");
    } else {
      bodyBytes_ += n;
      if (bodyBytes_ > notes_.bodyLimit) return Refuse(413, "Payload Too Large");
    }
    std::copy_n(buffer_.data() + pos_, n, ptr);
    pos_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (refused_) return static_cast<ssize_t>(size);
    return Send(ptr, size);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) Address(address, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) Address(address, ip, port);
  }
  socket_t socket() const override { return fd_; }

 private:
  ssize_t Send(const char* ptr, size_t size) {
    if (failed_ || !WaitFor(fd_, POLLOUT, Clock::now() + limits_.writeTimeout)) {
      failed_ = true;
      return -1;
    }
    const ssize_t n = ::send(fd_, ptr, size, MSG_NOSIGNAL);
    if (n < 0) failed_ = true;
    return n;
  }

  ssize_t Refuse(int status, const char* reason) {
    if (!refused_) {
      const std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + reason +
                                 "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
      for (std::size_t sent = 0; sent < answer.size();) {
        const ssize_t n = Send(answer.data() + sent, answer.size() - sent);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      refused_ = true;
    }
    return -1;
  }

  const int fd_;
  const HttpLimits& limits_;
  const ConnectionNotes& notes_;
  Clock::time_point deadline_;
  std::array<char, 4096> buffer_{};
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  bool inHead_ = true;
  std::size_t headBytes_ = 0;
  std::size_t lines_ = 0;
  std::size_t lineLength_ = 0;
  std::size_t bodyBytes_ = 0;
  bool refused_ = false;
  bool failed_ = false;
};

// A client still sending a refused body would get a reset for the rest, and with it lose the answer: the
// server reads on and throws away for a moment before it closes, as web servers do.
void CloseGently(int fd) {
  constexpr std::size_t kMostDiscarded = 4 * 1024 * 1024;
  ::shutdown(fd, SHUT_WR);
  const auto end = Clock::now() + std::chrono::seconds(1);
  std::array<char, 4096> discard{};
  for (std::size_t total = 0; total < kMostDiscarded && WaitFor(fd, POLLIN, end);) {
    const ssize_t n = ::recv(fd, discard.data(), discard.size(), 0);
    if (n <= 0) break;
    total += static_cast<std::size_t>(n);
  }
}

}  // namespace

bool IsLoopbackAddress(std::string_view address) {
  if (address == "localhost") return true;
  const std::string text(address);
  in_addr v4{};
  if (::inet_pton(AF_INET, text.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (::inet_pton(AF_INET6, text.c_str(), &v6) != 1) return false;
  if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
  return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
}

void GuardedHttpServer::CloseAfterThisRequest() {
  if (tNotes != nullptr) tNotes->closeAfter = true;
}

void GuardedHttpServer::LimitBody(std::size_t bytes) {
  if (tNotes != nullptr) tNotes->bodyLimit = bytes;
}

bool GuardedHttpServer::Track(socket_t sock) {
  std::lock_guard lock(mutex_);
  if (stopping_) return false;
  open_.insert(sock);
  return true;
}

bool GuardedHttpServer::Stopping() {
  std::lock_guard lock(mutex_);
  return stopping_;
}

void GuardedHttpServer::Untrack(socket_t sock) {
  std::lock_guard lock(mutex_);
  open_.erase(sock);
}

void GuardedHttpServer::WidenBacklog() {
  ::listen(svr_sock_, SOMAXCONN);
}

void GuardedHttpServer::StopNow() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    // Every read and write of a connection fails at once; its descriptor stays its thread's to close.
    for (socket_t sock : open_) ::shutdown(sock, SHUT_RDWR);
  }
  stop();
}

bool GuardedHttpServer::process_and_close_socket(socket_t sock) {
  bool ok = Track(sock);
  for (std::size_t served = 0; ok && served < limits_.requestsPerConnection; ++served) {
    if (!WaitFor(sock, POLLIN, Clock::now() + limits_.idle)) break;
    ConnectionNotes notes;
    GuardedStream stream(sock, limits_, notes);
    tNotes = &notes;
    bool closed = false;
    ok = process_request(stream, served + 1 == limits_.requestsPerConnection, closed, nullptr);
    tNotes = nullptr;
    if (notes.closeAfter || stream.refused()) {
      if (!Stopping()) CloseGently(sock);
      break;
    }
    if (closed || stream.failed()) break;
  }
  Untrack(sock);
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ok;
}

}  // namespace vupdate::serve
