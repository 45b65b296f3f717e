#include "tile_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "common/ascii.h"
#include "support.h"

namespace qv::test {

namespace {

// Requests to loopback ports must go straight there, never through a proxy
// the environment may name.
void clearProxyEnvironment() {
  for (const char* v : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                        "ALL_PROXY"})
    ::unsetenv(v);
}

int loopbackSocket(int& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    throw std::runtime_error("bind failed");
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port = ntohs(addr.sin_port);
  return fd;
}

bool sendAll(int fd, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

TileServer::TileServer(Handler handler, int maxRequests, int lifetimeSeconds)
    : handler_(std::move(handler)), maxRequests_(maxRequests), lifetimeSeconds_(lifetimeSeconds) {
  clearProxyEnvironment();
  listenFd_ = loopbackSocket(port_);
  if (::listen(listenFd_, 16) != 0) {
    ::close(listenFd_);
    throw std::runtime_error("listen failed");
  }
  thread_ = std::thread([this] { run(); });
}

TileServer::~TileServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) ::close(listenFd_);
}

std::string TileServer::lastUserAgent() const {
  std::lock_guard<std::mutex> lock(mu_);
  return userAgent_;
}

void TileServer::run() {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(lifetimeSeconds_);
  while (!stop_ && requests_ < maxRequests_ && std::chrono::steady_clock::now() < end) {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) continue;
    serve(fd);
    ::close(fd);
  }
}

void TileServer::serve(int fd) {
  // Read the request head (bounded in size and time).
  std::string req;
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (req.find("\r\n\r\n") == std::string::npos && req.size() < 16384) {
    if (stop_ || std::chrono::steady_clock::now() > until) return;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    char buf[2048];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return;
    req.append(buf, static_cast<size_t>(n));
  }
  ++requests_;
  std::string path;
  size_t sp1 = req.find(' ');
  size_t sp2 = sp1 == std::string::npos ? sp1 : req.find(' ', sp1 + 1);
  if (sp2 != std::string::npos) path = req.substr(sp1 + 1, sp2 - sp1 - 1);
  std::string agent;
  const std::string low = qv::lower(req);
  size_t ua = low.find("\r\nuser-agent:");
  if (ua != std::string::npos) {
    size_t start = ua + 13, stop = req.find("\r\n", start);
    agent = req.substr(start, stop - start);
    while (!agent.empty() && agent.front() == ' ') agent.erase(agent.begin());
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    userAgent_ = agent;
  }
  HttpAnswer a = handler_(path);
  if (a.hang) {
    while (!stop_) ::usleep(10000);
    return;
  }
  std::string head = "HTTP/1.1 " + std::to_string(a.status) + " X\r\nContent-Type: " +
                     a.contentType + "\r\nContent-Length: " + std::to_string(a.body.size()) +
                     "\r\nConnection: close\r\n\r\n";
  sendAll(fd, head + a.body);
}

int closedLoopbackPort() {
  clearProxyEnvironment();
  int port = 0;
  int fd = loopbackSocket(port);
  ::close(fd);
  return port;
}

HttpAnswer tileAnswer(const std::string& path) {
  int z, x, y;
  char tail[8] = {};
  if (std::sscanf(path.c_str(), "/%d/%d/%d.%3s", &z, &x, &y, tail) == 4 &&
      std::string(tail) == "png" && z >= 0 && z < 12 && x >= 0 && y >= 0 && x < (1 << z) &&
      y < (1 << z)) {
    const std::vector<unsigned char> b = makeTilePng(z, x, y);
    return {200, "image/png", std::string(b.begin(), b.end())};
  }
  return {404, "text/plain", "no such tile"};
}

}  // namespace qv::test
