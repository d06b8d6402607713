// Screenshots and GIF recordings on a worker thread (see the header).
#include "video/capture.h"

#include <gif_lib.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

namespace fs = std::filesystem;

// ---- timing and palette ----

int GifTiming::Advance(double seconds) {
  long long cs = std::llround(std::max(seconds, 0.0) * 100.0);
  if (lastKeptCs_ < 0) {
    lastKeptCs_ = cs;
    return 0;
  }
  if (cs - lastKeptCs_ < 2) return -1;
  int delay = static_cast<int>(cs - lastKeptCs_);
  lastKeptCs_ = cs;
  return delay;
}

int GifTiming::Finish(double seconds) const {
  long long cs = std::llround(std::max(seconds, 0.0) * 100.0);
  if (lastKeptCs_ < 0) return 2;
  return static_cast<int>(std::max(cs - lastKeptCs_, 2LL));
}

bool ExactPalette(const RgbaImage& image, std::vector<uint32_t>* palette, std::vector<uint8_t>* indices) {
  size_t count = static_cast<size_t>(image.width) * image.height;
  std::vector<uint32_t> colours(count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* p = &image.pixels[i * 4];
    colours[i] = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
  }
  std::vector<uint32_t> sorted = colours;
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  if (sorted.size() > 256) return false;
  indices->resize(count);
  // Runs of one colour are common in pixel art: look up only on a change.
  uint32_t last = 0xffffffffu;
  uint8_t lastIndex = 0;
  for (size_t i = 0; i < count; ++i) {
    if (colours[i] != last) {
      last = colours[i];
      lastIndex = static_cast<uint8_t>(std::lower_bound(sorted.begin(), sorted.end(), last) - sorted.begin());
    }
    (*indices)[i] = lastIndex;
  }
  *palette = std::move(sorted);
  return true;
}

namespace {

void PrintSaved(const std::string& path) {
  std::string line = "pelto: saved " + path + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

void PrintFailed(const std::string& path, const std::string& why) {
  std::fprintf(stderr, "pelto: cannot write %s: %s\n", path.c_str(), why.c_str());
}

bool MakeParent(const std::string& path) {
  std::error_code error;
  fs::create_directories(fs::path(path).parent_path(), error);
  return !error;
}

// ---- the GIF writer (worker thread only) ----

class GifWriter {
 public:
  bool Open(const std::string& path, int width, int height) {
    path_ = path;
    part_ = path + ".part";
    width_ = width;
    height_ = height;
    if (!MakeParent(path)) return false;
    int error = 0;
    gif_ = EGifOpenFileName(part_.c_str(), false, &error);
    if (!gif_) return false;
    EGifSetGifVersion(gif_, true);
    if (EGifPutScreenDesc(gif_, width, height, 8, 0, nullptr) == GIF_ERROR) return Fail();
    // Loops forever, as screen recordings are watched.
    unsigned char loop[3] = {1, 0, 0};
    if (EGifPutExtensionLeader(gif_, APPLICATION_EXT_FUNC_CODE) == GIF_ERROR ||
        EGifPutExtensionBlock(gif_, 11, "NETSCAPE2.0") == GIF_ERROR || EGifPutExtensionBlock(gif_, 3, loop) == GIF_ERROR ||
        EGifPutExtensionTrailer(gif_) == GIF_ERROR)
      return Fail();
    return true;
  }

  // A frame is written once the next one tells how long it lasts.
  void Frame(RgbaImage image, double seconds) {
    if (!gif_) return;
    if (pending_ && image.pixels == pending_->pixels) return;  // unchanged: the frame before lasts longer
    int delay = timing_.Advance(seconds);
    if (delay < 0) return;
    if (pending_) Write(*pending_, delay);
    pending_ = std::make_unique<RgbaImage>(std::move(image));
  }

  void Close(double seconds) {
    if (!gif_) return;
    if (pending_) Write(*pending_, timing_.Finish(seconds));
    pending_.reset();
    int error = 0;
    bool ok = !failed_ && EGifCloseFile(gif_, &error) != GIF_ERROR;
    gif_ = nullptr;
    std::error_code renameError;
    if (ok) fs::rename(part_, path_, renameError);
    if (ok && !renameError) {
      PrintSaved(path_);
    } else {
      fs::remove(part_, renameError);
      PrintFailed(path_, "GIF encoding failed");
    }
  }

 private:
  bool Fail() {
    failed_ = true;
    return false;
  }

  void Write(const RgbaImage& image, int delay) {
    if (failed_) return;
    std::vector<uint32_t> palette;
    std::vector<uint8_t> indices;
    ColorMapObject* map = nullptr;
    if (ExactPalette(image, &palette, &indices)) {
      int size = 2;
      while (size < static_cast<int>(palette.size())) size *= 2;
      map = GifMakeMapObject(size, nullptr);
      if (!map) return (void)Fail();
      for (int i = 0; i < size; ++i) {
        uint32_t c = i < static_cast<int>(palette.size()) ? palette[i] : 0;
        map->Colors[i] = {static_cast<GifByteType>(c >> 16), static_cast<GifByteType>(c >> 8), static_cast<GifByteType>(c)};
      }
    } else {
      // More than 256 colours: giflib's median-cut quantiser picks them.
      size_t count = static_cast<size_t>(image.width) * image.height;
      std::vector<GifByteType> r(count), g(count), b(count);
      for (size_t i = 0; i < count; ++i) {
        r[i] = image.pixels[i * 4];
        g[i] = image.pixels[i * 4 + 1];
        b[i] = image.pixels[i * 4 + 2];
      }
      map = GifMakeMapObject(256, nullptr);
      int size = 256;
      indices.resize(count);
      if (!map || GifQuantizeBuffer(image.width, image.height, &size, r.data(), g.data(), b.data(), indices.data(),
                                    map->Colors) == GIF_ERROR) {
        GifFreeMapObject(map);
        return (void)Fail();
      }
    }
    GraphicsControlBlock control = {DISPOSAL_UNSPECIFIED, false, delay, NO_TRANSPARENT_COLOR};
    GifByteType extension[4];
    EGifGCBToExtension(&control, extension);
    bool ok = EGifPutExtension(gif_, GRAPHICS_EXT_FUNC_CODE, 4, extension) != GIF_ERROR &&
              EGifPutImageDesc(gif_, 0, 0, width_, height_, false, map) != GIF_ERROR;
    for (int y = 0; ok && y < height_; ++y) {
      ok = EGifPutLine(gif_, indices.data() + static_cast<size_t>(y) * width_, width_) != GIF_ERROR;
    }
    GifFreeMapObject(map);
    if (!ok) Fail();
  }

  GifFileType* gif_ = nullptr;
  std::string path_, part_;
  int width_ = 0, height_ = 0;
  bool failed_ = false;
  GifTiming timing_;
  std::unique_ptr<RgbaImage> pending_;
};

// ---- the worker ----

enum class JobKind { Png, GifStart, GifFrame, GifStop };

struct Job {
  JobKind kind = JobKind::Png;
  RgbaImage image;
  std::string path;
  double seconds = 0;
  int width = 0, height = 0;
};

// A GIF frame queue longer than this means the encoder cannot keep up: new
// frames are then merged into the ones before them rather than held.
constexpr size_t kMaxQueuedFrames = 90;

struct Worker {
  std::mutex mutex;
  std::condition_variable wake, idle;
  std::deque<Job> jobs;
  size_t queuedFrames = 0;
  bool busy = false;
  bool stopping = false;
  std::thread thread;
  bool gifRunning = false;  // main thread's view
  int gifWidth = 0, gifHeight = 0;
};

Worker& W() {
  static Worker worker;
  return worker;
}

void SavePng(const Job& job) {
  std::vector<uint8_t> png;
  if (!EncodePngRgba(job.image, &png)) return PrintFailed(job.path, "PNG encoding failed");
  if (!MakeParent(job.path)) return PrintFailed(job.path, "cannot create the folder");
  std::string part = job.path + ".part";
  {
    std::ofstream out(part, std::ios::binary);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    if (!out) return PrintFailed(job.path, "write failed");
  }
  std::error_code error;
  fs::rename(part, job.path, error);
  if (error) return PrintFailed(job.path, error.message());
  PrintSaved(job.path);
}

void Run() {
  Worker& w = W();
  GifWriter gif;
  std::unique_lock<std::mutex> lock(w.mutex);
  for (;;) {
    w.wake.wait(lock, [&] { return !w.jobs.empty() || w.stopping; });
    if (w.jobs.empty()) break;
    Job job = std::move(w.jobs.front());
    w.jobs.pop_front();
    if (job.kind == JobKind::GifFrame) --w.queuedFrames;
    w.busy = true;
    lock.unlock();
    switch (job.kind) {
      case JobKind::Png: SavePng(job); break;
      case JobKind::GifStart:
        gif = GifWriter();
        if (!gif.Open(job.path, job.width, job.height)) PrintFailed(job.path, "cannot start the GIF");
        break;
      case JobKind::GifFrame: gif.Frame(std::move(job.image), job.seconds); break;
      case JobKind::GifStop: gif.Close(job.seconds); break;
    }
    lock.lock();
    w.busy = false;
    if (w.jobs.empty()) w.idle.notify_all();
  }
}

void Queue(Job job) {
  Worker& w = W();
  std::lock_guard<std::mutex> lock(w.mutex);
  if (!w.thread.joinable()) w.thread = std::thread(Run);
  if (job.kind == JobKind::GifFrame) {
    if (w.queuedFrames >= kMaxQueuedFrames) return;
    ++w.queuedFrames;
  }
  w.jobs.push_back(std::move(job));
  w.wake.notify_one();
}

}  // namespace

void CaptureSavePng(const RgbaImage& image, const std::string& path) {
  Job job;
  job.image = image;
  job.path = path;
  Queue(std::move(job));
}

bool CaptureGifStart(const std::string& path, int width, int height) {
  Worker& w = W();
  if (w.gifRunning) return false;
  w.gifRunning = true;
  w.gifWidth = width;
  w.gifHeight = height;
  Job job;
  job.kind = JobKind::GifStart;
  job.path = path;
  job.width = width;
  job.height = height;
  Queue(std::move(job));
  return true;
}

void CaptureGifFrame(const RgbaImage& image, double seconds) {
  Worker& w = W();
  if (!w.gifRunning || static_cast<int>(image.width) != w.gifWidth || static_cast<int>(image.height) != w.gifHeight)
    return;
  Job job;
  job.kind = JobKind::GifFrame;
  job.image = image;
  job.seconds = seconds;
  Queue(std::move(job));
}

void CaptureGifStop(double seconds) {
  Worker& w = W();
  if (!w.gifRunning) return;
  w.gifRunning = false;
  Job job;
  job.kind = JobKind::GifStop;
  job.seconds = seconds;
  Queue(std::move(job));
}

bool CaptureGifRunning() { return W().gifRunning; }

void CaptureShutdown() {
  Worker& w = W();
  {
    std::unique_lock<std::mutex> lock(w.mutex);
    if (!w.thread.joinable()) return;
    w.idle.wait(lock, [&] { return w.jobs.empty() && !w.busy; });
    w.stopping = true;
    w.wake.notify_all();
  }
  w.thread.join();
}
