// Stands in for the output stream in the threading tests: a real thread
// that calls MixAudio as a callback would, and keeps the loudest sample of
// every call.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/mixer.h"

class AudioThread {
 public:
  // frames: the size of every call; 0 makes the sizes vary from call to call.
  explicit AudioThread(int frames = 256) : frames_(frames) { thread_ = std::thread([this] { Run(); }); }
  ~AudioThread() { Stop(); }
  void Stop() {
    running_.store(false);
    if (thread_.joinable()) thread_.join();
  }
  int Calls() const { return calls_.load(); }
  void WaitForCalls(int count) const {
    while (calls_.load() < count) std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  // The loudest sample of one call, counted from 0.
  int Loudest(int call) {
    std::lock_guard<std::mutex> lock(mutex_);
    return loudest_[call];
  }
  // The loudest sample of every call since the last ResetLoudest.
  int Loudest() {
    std::lock_guard<std::mutex> lock(mutex_);
    int most = 0;
    for (size_t i = resetAt_; i < loudest_.size(); ++i) most = std::max(most, loudest_[i]);
    return most;
  }
  void ResetLoudest() {
    std::lock_guard<std::mutex> lock(mutex_);
    resetAt_ = loudest_.size();
  }

 private:
  void Run() {
    std::vector<int16_t> out(2 * 1500);
    int n = 0;
    while (running_.load()) {
      int frames = frames_ > 0 ? frames_ : 1 + (n++ * 389) % 1500;
      MixAudio(out.data(), frames);
      int loudest = 0;
      for (int i = 0; i < 2 * frames; ++i) loudest = std::max(loudest, std::abs(static_cast<int>(out[i])));
      {
        std::lock_guard<std::mutex> lock(mutex_);
        loudest_.push_back(loudest);
      }
      calls_.fetch_add(1);
    }
  }

  int frames_;
  std::atomic<bool> running_{true};
  std::atomic<int> calls_{0};
  std::mutex mutex_;
  std::vector<int> loudest_;
  size_t resetAt_ = 0;
  std::thread thread_;
};
