// The only file that talks to PortAudio. The callback calls the mixer and
// nothing else: no allocation, no lock, no library call.
//
// On Linux the audio library probes ALSA and JACK, and both print their
// complaints (no sound card, no JACK server) to stderr. The engine writes
// nothing but its own error lines there, so the library's calls on this
// thread run with stderr pointed at /dev/null, and ALSA's own reporter,
// which may also speak from the callback thread, is replaced by a silent one.
#include "audio/audio_stream.h"

#include <portaudio.h>
#if !defined(_WIN32)
#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "audio/mixer.h"
#include "host/host.h"

namespace {

PaStream* stream = nullptr;
bool streamRunning = false;       // a stream was opened and started
bool audioLibraryReady = false;   // Pa_Initialize succeeded

// What the callback saw, for the soak test: frames handed to the device and
// callbacks that PortAudio flagged as coming after an output underflow (the
// device ran dry: an audible gap). Written by the callback only.
std::atomic<uint64_t> framesMixed{0};
std::atomic<uint32_t> underflowCount{0};

constexpr double kOutputRate = 44100.0;
constexpr int kOutputChannels = 2;

#if defined(_WIN32)
// Windows' audio layers print nothing: no quieting needed.
class QuietStderr {
 public:
  QuietStderr() {}  // user-provided, so an unused one draws no warning
};
#else
// Points stderr at /dev/null for the life of the object.
class QuietStderr {
 public:
  QuietStderr() {
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    if (null >= 0) close(null);
  }
  ~QuietStderr() {
    std::fflush(stderr);
    if (saved_ < 0) return;
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_;
};

void SilentAlsaReport(const char*, int, const char*, int, const char*, ...) {}
#endif

int StreamCallback(const void* input, void* output, unsigned long frames, const PaStreamCallbackTimeInfo* time,
                   PaStreamCallbackFlags status, void* user) {
  MixAudio(static_cast<int16_t*>(output), static_cast<int>(frames));
  if (status & paOutputUnderflow) underflowCount.fetch_add(1, std::memory_order_relaxed);
  framesMixed.fetch_add(frames, std::memory_order_relaxed);
  return paContinue;
}

// What failed, then the library's own words for it.
void ReportStreamError(const char* what, PaError error) {
  ShowErrorBox(what);
  ShowErrorBox(Pa_GetErrorText(error));
}

}  // namespace

void AudioInit() {
  streamRunning = false;
#if !defined(_WIN32)
  snd_lib_error_set_handler(SilentAlsaReport);
#endif
  QuietStderr quiet;
  audioLibraryReady = Pa_Initialize() == paNoError;
}

namespace {

// The counters go to stderr at the end only when PELTO_AUDIO_STATS asks,
// so a game's own output is never touched; the soak test reads them.
void ReportAudioStats() {
  const char* ask = std::getenv("PELTO_AUDIO_STATS");
  if (!ask || !ask[0]) return;
  std::fprintf(stderr, "audio: %llu frames, %u underflows\n",
               static_cast<unsigned long long>(framesMixed.load()), underflowCount.load());
}

}  // namespace

void AudioTerminate() {
  ReportAudioStats();
  if (audioLibraryReady) {
    QuietStderr quiet;
    Pa_Terminate();
  }
  audioLibraryReady = false;
  stream = nullptr;
  streamRunning = false;
}

int OpenAudioStream() {
  streamRunning = false;
  // Without the library there is no device either: the engine runs silent.
  if (!audioLibraryReady) return 0;
  PaError error;
  {
    QuietStderr quiet;
    PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    if (device == paNoDevice) return 0;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    PaStreamParameters output = {};
    output.device = device;
    output.channelCount = kOutputChannels;
    output.sampleFormat = paInt16;
    output.suggestedLatency = info ? info->defaultLowOutputLatency : 0.0;
    output.hostApiSpecificStreamInfo = nullptr;
    error = Pa_OpenStream(&stream, nullptr, &output, kOutputRate, paFramesPerBufferUnspecified,
                          paClipOff | paDitherOff, StreamCallback, nullptr);
  }
  if (error != paNoError) {
    stream = nullptr;
    ReportStreamError("Error initialising audio stream.", error);
    return 0;
  }
  {
    QuietStderr quiet;
    error = Pa_StartStream(stream);
  }
  if (error != paNoError) {
    // The stream stays open, unstarted, until the library is terminated.
    ReportStreamError("Error starting audio stream.", error);
    return 0;
  }
  streamRunning = true;
  return 1;
}

void CloseAudioStream() {
  if (streamRunning) {
    QuietStderr quiet;
    Pa_StopStream(stream);
    Pa_CloseStream(stream);
    stream = nullptr;
  }
  streamRunning = false;
}

bool AudioStreamRunning() { return streamRunning; }
