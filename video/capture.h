// Screenshots and GIF recordings of the virtual screen, for the development
// mode. Frames are handed over as plain pixels; PNG and GIF encoding and
// the file writing run on a worker thread, so the game never waits for
// them. Each finished file's path is printed on stdout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "video/png.h"

// ---- GIF timing: plain logic ----

// GIF delays are whole hundredths of a second, and players show delays
// below 2 as 10, so frames closer together than that are merged: a frame is
// kept only when its time, rounded to hundredths, lies at least 2 after the
// kept frame before it. Each kept frame lasts until the next one's rounded
// time, so the delays add up to the true length of the recording.
class GifTiming {
 public:
  // A frame at `seconds` since the recording started: -1 when it is merged
  // into the kept frame before it; else it is kept, and the result is the
  // delay in hundredths of the kept frame before it (0 for the first).
  int Advance(double seconds);
  // The delay of the last kept frame when the recording ends at `seconds`
  // (at least 2).
  int Finish(double seconds) const;

 private:
  long long lastKeptCs_ = -1;
};

// ---- GIF palette: plain logic ----

// An exact palette when the picture has 256 colours or fewer: `palette`
// gets the colours (0xRRGGBB, sorted) and `indices` one entry per pixel.
// False for more colours (the caller then quantises).
bool ExactPalette(const RgbaImage& image, std::vector<uint32_t>* palette, std::vector<uint8_t>* indices);

// ---- the worker ----

// Queues a PNG of the picture to `path` (folders made as needed).
void CaptureSavePng(const RgbaImage& image, const std::string& path);
// Starts a GIF at `path` of width x height; false while one is running.
bool CaptureGifStart(const std::string& path, int width, int height);
// A frame at `seconds` since the start; frames of another size are skipped.
void CaptureGifFrame(const RgbaImage& image, double seconds);
// Ends the recording at `seconds`; the file is finished on the worker.
void CaptureGifStop(double seconds);
bool CaptureGifRunning();
// Waits for every queued job to finish (before the process ends).
void CaptureShutdown();
