// Hidden windows, their message loop, window timers and socket notifications.
// The service's whole work runs on the thread that calls win_get_message; other
// threads only post or send messages to its windows.
#pragma once
#include <cstdint>

typedef struct Window* WindowHandle;   // opaque; null is no window
typedef intptr_t (*WindowProc)(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);

enum : uint32_t {
  WM_CREATE = 0x0001,
  WM_DESTROY = 0x0002,
  WM_CLOSE = 0x0010,
  WM_QUIT = 0x0012,
  WM_TIMER = 0x0113,
  WM_USER = 0x0400,
};

// Socket events of win_async_select, delivered in the low 16 bits of lParam;
// the high 16 bits carry an error code (0 none).
enum : uint32_t {
  FD_READ = 0x01,
  FD_WRITE = 0x02,
  FD_OOB = 0x04,
  FD_ACCEPT = 0x08,
  FD_CONNECT = 0x10,
  FD_CLOSE = 0x20,
};

enum : int { SW_HIDE = 0, SW_SHOW = 5 };

struct WindowMessage {
  WindowHandle window;   // target window, null for a thread message (WM_QUIT)
  uint32_t message;      // message number
  uintptr_t wparam;      // first parameter
  intptr_t lparam;       // second parameter
};

// A class name ties windows to their procedure; false when the name is taken or the table is full.
bool win_register_class(const char16_t* class_name, WindowProc proc);
// Creates a window of a registered class on the calling thread; WM_CREATE is handled before it returns.
// Returns null when the class is unknown, the table is full or WM_CREATE returns -1.
WindowHandle win_create_window(const char16_t* class_name, const char16_t* title);
// Handles WM_DESTROY, then forgets the window and its timers and socket registrations.
bool win_destroy_window(WindowHandle window);
// The first window whose title equals the text, or null.
WindowHandle win_find_window(const char16_t* title);
bool win_is_window(WindowHandle window);
void win_show_window(WindowHandle window, int command);
bool win_is_visible(WindowHandle window);

// Waits for the next message of the calling thread's windows. Sent messages are handled inside the
// call; posted messages, then due timers, then socket events are returned. Returns 0 for WM_QUIT,
// 1 otherwise.
int win_get_message(WindowMessage* out);
// Like win_get_message but never waits; returns false when nothing is pending.
bool win_peek_message(WindowMessage* out);
void win_translate_message(const WindowMessage* msg);
intptr_t win_dispatch_message(const WindowMessage* msg);
intptr_t win_def_window_proc(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);

// Queues a message; callable from any thread.
bool win_post_message(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);
// Calls the window procedure. From another thread it waits until the window's thread has handled it.
intptr_t win_send_message(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);
// Queues WM_QUIT with the exit code for the calling thread's loop.
void win_post_quit_message(int exit_code);

// Starts or restarts timer id of the window; each period a WM_TIMER with wParam id is generated
// (at most one waits in the queue at a time).
bool win_set_timer(WindowHandle window, uintptr_t id, uint32_t period_ms);
bool win_kill_timer(WindowHandle window, uintptr_t id);
bool win_timer_is_set(WindowHandle window, uintptr_t id);

// Registers a socket for the given FD_ events, delivered as `message` to the window with wParam the
// socket and lParam the event word. Events 0 removes the registration. A read event is posted once
// and again after the next sock_recv; an accept event again after the next sock_accept.
bool win_async_select(int socket, WindowHandle window, uint32_t message, uint32_t events);
