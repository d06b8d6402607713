// The audio output stream: one PortAudio stream at 44100 Hz, stereo, 16 bits,
// fed by the mixer. It runs while the display is open.
#pragma once

// Start-up: initialises the audio library and remembers whether it worked.
void AudioInit();
// Shutdown, also on the way out of a fatal error: terminates the library
// (which closes a stream still open) if it was initialised.
void AudioTerminate();

// Opens and starts the stream on the default output device; 1 when it runs.
// No device: 0 in silence. A refused open or start shows two boxes (what
// failed, then the library's reason) and returns 0; the script goes on.
int OpenAudioStream();
// Stops and closes the stream if it runs; afterwards it does not.
void CloseAudioStream();
// Whether the stream runs: channels are only reported active then.
bool AudioStreamRunning();
