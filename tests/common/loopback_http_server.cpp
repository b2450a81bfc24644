#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdexcept>

#include "common/test_support.h"

namespace kvtest {

namespace {

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

void SendAll(SOCKET socket, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    int n = ::send(socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

// Reads until the blank line that ends the request head (GET has no body).
std::string ReadRequestHead(SOCKET socket) {
  std::string head;
  char chunk[1024];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    int n = ::recv(socket, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    head.append(chunk, static_cast<size_t>(n));
  }
  return head;
}

}  // namespace

CLoopbackHttpServer::CLoopbackHttpServer(Reply reply) : m_reply(std::move(reply)) {
  WSADATA data;
  ::WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) throw std::runtime_error("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;  // let the system pick a free port
  int length = sizeof address;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::closesocket(listener);
    throw std::runtime_error("bind/listen on 127.0.0.1 failed");
  }
  m_listener = listener;
  m_port = ntohs(address.sin_port);
  m_thread = std::thread([this] { Serve(); });
}

CLoopbackHttpServer::~CLoopbackHttpServer() {
  m_stopping = true;
  ::closesocket(static_cast<SOCKET>(m_listener));  // wakes the blocked accept
  m_thread.join();
  ::WSACleanup();
}

std::string CLoopbackHttpServer::LastRequest() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lastRequest;
}

void CLoopbackHttpServer::Serve() {
  while (!m_stopping) {
    SOCKET client = ::accept(static_cast<SOCKET>(m_listener), nullptr, nullptr);
    if (client == INVALID_SOCKET) return;
    Answer(client);
    ::closesocket(client);
  }
}

void CLoopbackHttpServer::Answer(uintptr_t clientHandle) {
  SOCKET client = static_cast<SOCKET>(clientHandle);
  std::string head = ReadRequestHead(client);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastRequest = head;
  }
  ++m_requests;
  if (m_reply.hang) {
    // Hold the connection open without answering until the server goes.
    while (!m_stopping) ::Sleep(20);
    return;
  }
  if (!m_reply.raw.empty()) {
    SendAll(client, m_reply.raw);
    ::shutdown(client, SD_SEND);
    return;
  }
  std::string response =
      "HTTP/1.1 " + std::to_string(m_reply.status) + " " + ReasonPhrase(m_reply.status) +
      "\r\nContent-Type: application/json\r\nContent-Length: " +
      std::to_string(m_reply.body.size()) + "\r\nConnection: close\r\n\r\n" + m_reply.body;
  SendAll(client, response);
  ::shutdown(client, SD_SEND);
}

}  // namespace kvtest
