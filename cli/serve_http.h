// The HTTP server of vupdate serve: cpp-httplib's, with limits of its own on what one client may hold.
// httplib reads every connection on a thread of a fixed pool with only a per-read timeout, so a client that
// sends a header line now and then, or a million of them, keeps a thread and grows the server; and its stop
// waits for every connection to end. This server reads each request through a stream that counts and times
// it, and closes every connection when it stops.
#pragma once

#include <cstddef>
#include <mutex>
#include <set>

#include <httplib.h>

#include "cli/serve.h"

namespace vupdate::serve {

class GuardedHttpServer : public httplib::Server {
 public:
  explicit GuardedHttpServer(HttpLimits limits) : limits_(limits) {}

  // After a bind: a longer queue of connections not yet accepted than httplib's five, so that a burst of
  // clients is not made to wait for the kernel's retries.
  void WidenBacklog();
  // Stops listening and cuts every connection, slow or not; Run's listen returns once handlers have.
  void StopNow();

  // For a handler, about the connection of the request it answers (on that request's thread).
  // The connection closes after this answer: a body left unread would otherwise read as the next request.
  static void CloseAfterThisRequest();
  // Raw body bytes the request may send (chunk framing included) before the server answers 413 and closes.
  static void LimitBody(std::size_t bytes);

 private:
  bool process_and_close_socket(socket_t sock) override;
  bool Track(socket_t sock);  // false when stopping
  void Untrack(socket_t sock);
  bool Stopping();

  const HttpLimits limits_;
  std::mutex mutex_;
  std::set<socket_t> open_;
  bool stopping_ = false;
};

}  // namespace vupdate::serve
