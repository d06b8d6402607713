// Shared by the development mode's end-to-end tests: the engine's window
// on a private display, keys held like a player holds them, and the
// window's pixels.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/private_display.h"
#include "tests/e2e/window_probe.h"

inline void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

constexpr uint32_t kErrorBackground = 0x181028;  // the error screen's colour

#define START_DISPLAY(display)  \
  PrivateDisplay display;       \
  if (!display.ok()) GTEST_SKIP() << "no Xvfb for a private display"

// The id (hex, as xwininfo prints it) of the mapped top-level window with
// this title, given the keyboard focus; "" if it does not come or `ended`.
inline std::string FocusedWindow(const PrivateDisplay& display, const std::string& title,
                                 const std::function<bool()>& ended) {
  for (int i = 0; i < 200 && !ended(); ++i) {
    std::string tree = display.Run({"/usr/bin/xwininfo", "-root", "-tree"}).out;
    size_t at = tree.find(" \"" + title + "\": ");
    if (at != std::string::npos) {
      size_t start = tree.find_first_not_of(' ', tree.rfind('\n', at) + 1);
      std::string id = tree.substr(start, tree.find(' ', start) - start);
      if (display.Run({"/usr/bin/xwininfo", "-id", id}).out.find("IsViewable") != std::string::npos) {
        // There is no window manager: the focus is given, then checked.
        display.Run({"/usr/bin/xdotool", "windowfocus", id});
        std::string focused = display.Run({"/usr/bin/xdotool", "getwindowfocus"}).out;
        if (std::strtoul(focused.c_str(), nullptr, 10) == std::strtoul(id.c_str(), nullptr, 16)) {
          Pause(300);
          return id;
        }
      }
    }
    Pause(100);
  }
  return "";
}

// Holds a key over a few frames, as a player does.
inline void HoldKey(const PrivateDisplay& display, const std::string& key) {
  display.Run({"/usr/bin/xdotool", "keydown", key});
  Pause(250);
  display.Run({"/usr/bin/xdotool", "keyup", key});
  Pause(100);
}

inline std::vector<std::string> Files(const std::string& folder, const std::string& extension) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.path().extension() == extension) found.push_back(entry.path().string());
  }
  return found;
}

// X pixels of the private display's windows, looked at with the probe.
class Screen {
 public:
  explicit Screen(const PrivateDisplay& display) {
    const char* old = std::getenv("DISPLAY");
    if (old) saved_ = old;
    setenv("DISPLAY", display.name().c_str(), 1);
    probe_ = std::make_unique<WindowProbe>();
  }
  ~Screen() {
    probe_.reset();
    if (saved_.empty()) unsetenv("DISPLAY"); else setenv("DISPLAY", saved_.c_str(), 1);
  }
  WindowProbe& probe() { return *probe_; }
  uint32_t Pixel(unsigned long window, int x, int y) {
    WindowImage image;
    if (!probe_->Grab(window, &image) || x >= image.width || y >= image.height) return 0xff000000u;
    return image.At(x, y);
  }
  // Waits until the pixel shows `want`; false after the time-out.
  bool WaitPixel(unsigned long window, int x, int y, uint32_t want, int timeoutMs = 15000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Pixel(window, x, y) == want) return true;
      Pause(30);
    }
    return false;
  }
  WindowImage Grab(unsigned long window) {
    WindowImage image;
    probe_->Grab(window, &image);
    return image;
  }

 private:
  std::string saved_;
  std::unique_ptr<WindowProbe> probe_;
};

