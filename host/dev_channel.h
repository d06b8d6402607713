// The development channel between `pelto-tool run --watch` and the engine:
// a Unix stream socket the tool creates with socketpair() and leaves open in
// the engine as an inherited descriptor. The environment variable
// PELTO_DEV_CHANNEL names it as "FD:NONCE", and the tool's first message
// must be a hello carrying the same nonce (32 hex digits from the system's
// random source). A release run never has both: a variable left over in a
// shell names a descriptor that is not such a socket, or one that says
// nothing within the time-out, and the engine then runs exactly as without
// it.
//
// Every message, both ways, is one line "VERB LENGTH\n" followed by LENGTH
// bytes of payload (text, may hold newlines). Plain POSIX code with no
// engine state: the tool and the tests use it too.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

constexpr char kDevChannelVariable[] = "PELTO_DEV_CHANNEL";
constexpr char kDevProtocol[] = "pelto-dev 1";
constexpr size_t kDevMaxVerb = 32;             // bytes
constexpr size_t kDevMaxPayload = 1u << 20;    // bytes; a build log is far smaller

// Verbs. Tool to engine: hello (kDevProtocol + " " + nonce), root (the game
// folder, absolute), reload (the archives were rebuilt), build-error (the
// build's messages). Engine to tool: hello (kDevProtocol), started (boot.prg
// runs; payload the run number), rebuild (the user asked for a new build
// from the error screen).
struct DevMessage {
  std::string verb;
  std::string payload;
};

// Splits the byte stream into messages. A malformed header (no digits, a
// verb too long or with spaces, a payload over the limit) breaks the reader
// for good: the stream cannot be resynchronised.
class DevMessageReader {
 public:
  void Feed(const char* bytes, size_t size);
  // 1: *message filled; 0: need more bytes; -1: broken.
  int Next(DevMessage* message);
  bool broken() const { return broken_; }

 private:
  std::string buffer_;
  size_t used_ = 0;
  bool broken_ = false;
};

// The header and payload of one message.
std::string DevEncode(const std::string& verb, const std::string& payload);

// "FD:NONCE" -> fd >= 3 and a 32-hex-digit nonce; false for anything else.
bool ParseDevChannelValue(const char* channelValue, int* fd, std::string* nonce);

// A fresh random nonce (32 lower-case hex digits); empty if no randomness.
std::string MakeDevNonce();

// The engine's side of the handshake: `channelValue` must parse, the descriptor be a
// Unix stream socket, and a hello with the nonce arrive within timeoutMs.
// Then the engine answers hello and gets the socket (non-blocking) back with
// any messages that came with the hello in `early`; otherwise -1, and the
// descriptor is left as it was.
int DevChannelAccept(const char* channelValue, int timeoutMs, DevMessageReader* reader, std::vector<DevMessage>* early);

// Writes a whole message (blocking briefly on a full socket); false when the
// peer is gone.
bool DevSend(int fd, const std::string& verb, const std::string& payload);

// Reads whatever has arrived without waiting and appends the messages. False
// when the peer has closed the channel or the stream broke.
bool DevReceive(int fd, DevMessageReader* reader, std::vector<DevMessage>* out);
