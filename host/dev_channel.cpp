// The development channel's framing, handshake and socket I/O (see the header).
#include "host/dev_channel.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

void DevMessageReader::Feed(const char* bytes, size_t size) {
  if (broken_) return;
  // Consumed bytes are dropped only now, so Next never copies the buffer twice.
  if (used_ > 0) {
    buffer_.erase(0, used_);
    used_ = 0;
  }
  buffer_.append(bytes, size);
}

int DevMessageReader::Next(DevMessage* message) {
  if (broken_) return -1;
  size_t end = buffer_.find('\n', used_);
  if (end == std::string::npos) {
    // A header never needs more than a verb, a space and seven digits.
    if (buffer_.size() - used_ > kDevMaxVerb + 16) broken_ = true;
    return broken_ ? -1 : 0;
  }
  size_t space = buffer_.find(' ', used_);
  if (space == std::string::npos || space > end || space == used_ || space - used_ > kDevMaxVerb ||
      end == space + 1 || end - space - 1 > 7) {
    broken_ = true;
    return -1;
  }
  size_t length = 0;
  for (size_t i = space + 1; i < end; ++i) {
    char c = buffer_[i];
    if (c < '0' || c > '9') {
      broken_ = true;
      return -1;
    }
    length = length * 10 + static_cast<size_t>(c - '0');
  }
  if (length > kDevMaxPayload) {
    broken_ = true;
    return -1;
  }
  if (buffer_.size() - (end + 1) < length) return 0;
  message->verb.assign(buffer_, used_, space - used_);
  message->payload.assign(buffer_, end + 1, length);
  used_ = end + 1 + length;
  return 1;
}

std::string DevEncode(const std::string& verb, const std::string& payload) {
  return verb + " " + std::to_string(payload.size()) + "\n" + payload;
}

bool ParseDevChannelValue(const char* channelValue, int* fd, std::string* nonce) {
  if (!channelValue) return false;
  const char* colon = std::strchr(channelValue, ':');
  if (!colon || colon == channelValue || colon - channelValue > 6) return false;
  int value = 0;
  for (const char* p = channelValue; p < colon; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
  }
  // 0-2 are the standard streams: never a channel.
  if (value < 3) return false;
  const char* hex = colon + 1;
  if (std::strlen(hex) != 32) return false;
  for (const char* p = hex; *p; ++p) {
    if (!((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f'))) return false;
  }
  *fd = value;
  *nonce = hex;
  return true;
}

#ifdef _WIN32
// The channel is a Unix socket the tool leaves open in the engine; Windows
// has no such inheritance yet, so there is never a channel there and the
// engine always runs as a release build (the framing above still builds, for
// the tests).
std::string MakeDevNonce() { return ""; }
int DevChannelAccept(const char*, int, DevMessageReader*, std::vector<DevMessage>*) { return -1; }
bool DevSend(int, const std::string&, const std::string&) { return false; }
bool DevReceive(int, DevMessageReader*, std::vector<DevMessage>*) { return false; }
#else
std::string MakeDevNonce() {
  unsigned char bytes[16];
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return "";
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

namespace {

// A Unix-domain stream socket, as socketpair() makes; anything else (a
// file, a pipe, a TCP connection) is not the tool's.
bool IsUnixStreamSocket(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
  int type = 0, domain = 0;
  socklen_t length = sizeof type;
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM) return false;
  length = sizeof domain;
  if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0 || domain != AF_UNIX) return false;
  return true;
}

}  // namespace

int DevChannelAccept(const char* channelValue, int timeoutMs, DevMessageReader* reader, std::vector<DevMessage>* early) {
  int fd = -1;
  std::string nonce;
  if (!ParseDevChannelValue(channelValue, &fd, &nonce) || !IsUnixStreamSocket(fd)) return -1;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  DevMessage hello;
  for (;;) {
    int got = reader->Next(&hello);
    if (got < 0) return -1;
    if (got == 1) break;
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    if (left <= 0) return -1;
    pollfd p = {fd, POLLIN, 0};
    int ready = poll(&p, 1, left);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return -1;
    // Only as many bytes as a hello can take, so nothing is read from a
    // socket that turns out not to be ours beyond its first line.
    char bytes[128];
    ssize_t n = recv(fd, bytes, sizeof bytes, 0);
    if (n <= 0) return -1;
    reader->Feed(bytes, static_cast<size_t>(n));
  }
  if (hello.verb != "hello" || hello.payload != std::string(kDevProtocol) + " " + nonce) return -1;
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  if (!DevSend(fd, "hello", kDevProtocol)) return -1;
  DevMessage message;
  while (reader->Next(&message) == 1) early->push_back(message);
  return fd;
}

bool DevSend(int fd, const std::string& verb, const std::string& payload) {
  std::string bytes = DevEncode(verb, payload);
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p = {fd, POLLOUT, 0};
      if (poll(&p, 1, 1000) <= 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

bool DevReceive(int fd, DevMessageReader* reader, std::vector<DevMessage>* out) {
  char bytes[4096];
  for (;;) {
    ssize_t n = recv(fd, bytes, sizeof bytes, MSG_DONTWAIT);
    if (n > 0) {
      reader->Feed(bytes, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    bool open = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    DevMessage message;
    int got;
    while ((got = reader->Next(&message)) == 1) out->push_back(message);
    return open && got == 0;
  }
}
#endif  // _WIN32
