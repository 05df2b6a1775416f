// The removal library Farnhide: loaded and called once by the product's removal program before it
// removes the installed programs. StopRunning closes the tray programs of every desktop session,
// stops the service Vellmar, waits until it has stopped and deletes it from the service manager.
#pragma once
#include <cstdint>

extern "C" {
// Exported by name. The three arguments are ignored; the result is 0 in every case.
int32_t StopRunning(uint32_t, uint32_t, uint32_t);
}

// Posts WM_CLOSE (wParam 1) to every window titled `title`, waits 1000 ms and looks again, for at
// most `posts` rounds; stops early when no such window is left or none of them takes the message.
void farnhide_close_window(const char16_t* title, int posts);
