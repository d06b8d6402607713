// The frame loop's services: the once-a-frame event poll, the close flag,
// the millisecond clock and the vsync switch.
#pragma once

#include <cstdint>

// Empties the pending typed character, then delivers the queued window
// events; never swaps, sleeps or waits.
void OsUpdate();
// True from the first close request on; changes nothing.
bool OsQuit();
// Milliseconds since the window library started, wrapping after 2^32.
uint32_t OsTicks();
// Milliseconds for a clock reading in seconds: cut toward zero, low 32 bits.
uint32_t TicksFromSeconds(double seconds);
// Stores the switch and applies it to an open window at once; a window
// opened later takes it from the display record.
void OsVSync(bool on);
