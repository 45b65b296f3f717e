// A tiny HTTP server on 127.0.0.1 (a random free port) for the tile tests:
// one thread, one connection at a time, "Connection: close" answers, a cap
// on requests and on its own lifetime. It never talks to anything but the
// loopback interface.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qv::test {

struct HttpAnswer {
  int status = 200;
  std::string contentType = "image/png";
  std::string body;
  bool hang = false;  // accept the request but never answer it
};

class TileServer {
 public:
  using Handler = std::function<HttpAnswer(const std::string& path)>;

  explicit TileServer(Handler handler, int maxRequests = 200, int lifetimeSeconds = 60);
  ~TileServer();
  TileServer(const TileServer&) = delete;
  TileServer& operator=(const TileServer&) = delete;

  int port() const { return port_; }
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int requests() const { return requests_.load(); }
  std::string lastUserAgent() const;

 private:
  void run();
  void serve(int fd);

  Handler handler_;
  int maxRequests_;
  int lifetimeSeconds_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  mutable std::mutex mu_;
  std::string userAgent_;
  std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on (bound, then closed).
int closedLoopbackPort();

// Serves /z/x/y.png as the generated test tiles; anything else is 404.
HttpAnswer tileAnswer(const std::string& path);

}  // namespace qv::test
