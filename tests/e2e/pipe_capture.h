// Sound heard from outside the engine: a test HOME's .asoundrc routes ALSA's
// default device to the file plugin, which writes into a named pipe that
// this reader empties at the pace of a real sound card. The pipe holds one
// page only, so the engine cannot run far ahead of the reader: what the
// script does at a moment of its clock lands near the same moment of the
// stream.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

// The .asoundrc that sends the default device's raw output into `file`.
inline std::string AsoundrcToFile(const std::string& file) {
  return "pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"" + file + "\"\n  format \"raw\"\n}\n";
}

// Reads everything written into a named pipe, one segment per writer (the
// engine opens the file once per output stream), no faster than 44100
// frames a second.
class PipeCapture {
 public:
  explicit PipeCapture(const std::string& path) : path_(path) {
    EXPECT_EQ(mkfifo(path.c_str(), 0600), 0) << std::strerror(errno);
    thread_ = std::thread([this] { Run(); });
  }
  ~PipeCapture() { Stop(); }
  // Lets a segment still being written finish (for at most a few seconds).
  void Stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  // Each segment as interleaved 16-bit samples.
  std::vector<std::vector<int16_t>> Segments() const {
    std::vector<std::vector<int16_t>> out;
    for (const std::string& bytes : segments_) {
      std::vector<int16_t> samples(bytes.size() / 2);
      std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
      out.push_back(samples);
    }
    return out;
  }

 private:
  void Run() {
    constexpr double kBytesPerSecond = 44100.0 * 4;
    std::chrono::steady_clock::time_point giveUp = std::chrono::steady_clock::time_point::max();
    for (;;) {
      int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
      if (fd < 0) return;
      fcntl(fd, F_SETPIPE_SZ, 4096);
      std::string segment;
      bool ended = false;
      auto start = std::chrono::steady_clock::now();
      while (!ended) {
        if (stop_.load()) {
          // Between segments there is nothing left to wait for.
          if (segment.empty()) break;
          if (giveUp == std::chrono::steady_clock::time_point::max())
            giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
          if (std::chrono::steady_clock::now() > giveUp) break;
        }
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        char buffer[4096];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
          if (segment.empty()) start = std::chrono::steady_clock::now();
          segment.append(buffer, static_cast<size_t>(n));
          auto due = start + std::chrono::duration<double>(segment.size() / kBytesPerSecond);
          std::this_thread::sleep_until(due - std::chrono::milliseconds(20));
        } else if (n == 0 && (p.revents & POLLHUP)) {
          ended = true;  // the writer closed the stream
        }
      }
      close(fd);
      if (ended) segments_.push_back(segment);
      if (!ended) return;
    }
  }

  std::string path_;
  std::atomic<bool> stop_{false};
  std::vector<std::string> segments_;
  std::thread thread_;
};
