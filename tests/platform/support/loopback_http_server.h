// A minimal HTTP server on 127.0.0.1 for tests that make requests: it answers every request
// with the same 200 response and remembers the request lines it saw. Its port is chosen by the
// system. It serves from a thread of its own (CreateThread: the compiler has no std::thread).
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
// after winsock2.h, or it brings in the old winsock.h
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace support {

// A socket, closed with closesocket.
class UniqueSocket {
 public:
  UniqueSocket() = default;
  explicit UniqueSocket(SOCKET socket) : socket_(socket) {}
  UniqueSocket(UniqueSocket&& other) noexcept : socket_(std::exchange(other.socket_, INVALID_SOCKET)) {}
  UniqueSocket& operator=(UniqueSocket&& other) noexcept {
    if (this != &other) {
      reset();
      socket_ = std::exchange(other.socket_, INVALID_SOCKET);
    }
    return *this;
  }
  ~UniqueSocket() { reset(); }
  SOCKET get() const { return socket_; }
  explicit operator bool() const { return socket_ != INVALID_SOCKET; }
  void reset() {
    if (socket_ != INVALID_SOCKET) closesocket(std::exchange(socket_, INVALID_SOCKET));
  }

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

// Winsock started for the life of the object.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSession() {
    if (started_) WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  bool started() const { return started_; }

 private:
  bool started_ = false;
};

// A TCP socket bound to 127.0.0.1 on a port the system picks; 0 when that failed.
inline UniqueSocket bindLoopback(unsigned short& port) {
  port = 0;
  UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!socket) return socket;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return UniqueSocket();
  port = ntohs(address.sin_port);
  return socket;
}

// A loopback port that refuses connections for as long as the object lives: bound, so nobody
// else can listen there, but not listening itself.
class ClosedLoopbackPort {
 public:
  ClosedLoopbackPort() : socket_(bindLoopback(port_)) {}
  unsigned short port() const { return port_; }

 private:
  WinsockSession winsock_;
  unsigned short port_ = 0;
  UniqueSocket socket_;
};

class LoopbackHttpServer {
 public:
  struct Answer {
    std::string status = "200 OK";
    // Accept and read the request, then say nothing for this long and close the connection.
    DWORD silentMilliseconds = 0;
  };

  explicit LoopbackHttpServer(std::string body) : LoopbackHttpServer(std::move(body), Answer{}) {}
  LoopbackHttpServer(std::string body, Answer answer) : body_(std::move(body)), answer_(std::move(answer)) {
    InitializeSRWLock(&lock_);
    listener_ = bindLoopback(port_);
    if (!listener_ || listen(listener_.get(), SOMAXCONN) != 0) {
      port_ = 0;
      return;
    }
    thread_ = CreateThread(nullptr, 0, &LoopbackHttpServer::serve, this, 0, nullptr);
    if (!thread_) port_ = 0;
  }
  ~LoopbackHttpServer() { stop(); }
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  // 0 when the server could not start.
  unsigned short port() const { return port_; }

  // Connections accepted so far, whether or not a request came on them (a connection test
  // opens one and sends nothing).
  long connections() const { return InterlockedCompareExchange(const_cast<LONG volatile*>(&connections_), 0, 0); }

  // The client's side of a connection is done before this server has accepted it: waits up to
  // `milliseconds` for `count` connections and gives the count then.
  long waitForConnections(long count, DWORD milliseconds = 5000) const {
    const ULONGLONG until = GetTickCount64() + milliseconds;
    while (connections() < count && GetTickCount64() < until) Sleep(5);
    return connections();
  }

  std::vector<std::string> requestLines() {
    AcquireSRWLockShared(&lock_);
    std::vector<std::string> lines = requestLines_;
    ReleaseSRWLockShared(&lock_);
    return lines;
  }

  // Wakes the serving thread with a connection of our own and waits for it to end.
  void stop() {
    if (!thread_) return;
    InterlockedExchange(&stopping_, 1);
    unsigned short unused = 0;
    UniqueSocket wake = bindLoopback(unused);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port_);
    if (wake) connect(wake.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
    listener_.reset();
  }

 private:
  static DWORD WINAPI serve(void* self) {
    auto& server = *static_cast<LoopbackHttpServer*>(self);
    for (;;) {
      UniqueSocket client(accept(server.listener_.get(), nullptr, nullptr));
      if (!client || InterlockedCompareExchange(&server.stopping_, 0, 0)) return 0;
      InterlockedIncrement(&server.connections_);
      server.answer(client);
    }
  }

  void answer(const UniqueSocket& client) {
    std::string request;
    char buffer[1024];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const int received = recv(client.get(), buffer, sizeof buffer, 0);
      if (received <= 0) return;
      request.append(buffer, received);
    }
    AcquireSRWLockExclusive(&lock_);
    requestLines_.push_back(request.substr(0, request.find("\r\n")));
    ReleaseSRWLockExclusive(&lock_);

    if (answer_.silentMilliseconds != 0) {
      Sleep(answer_.silentMilliseconds);
      return;
    }
    const std::string response = "HTTP/1.1 " + answer_.status + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                                 std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n" + body_;
    send(client.get(), response.data(), static_cast<int>(response.size()), 0);
    shutdown(client.get(), SD_SEND);
  }

  WinsockSession winsock_;
  std::string body_;
  Answer answer_;
  UniqueSocket listener_;
  unsigned short port_ = 0;
  HANDLE thread_ = nullptr;
  LONG volatile stopping_ = 0;
  LONG volatile connections_ = 0;
  SRWLOCK lock_;
  std::vector<std::string> requestLines_;
};

}  // namespace support
