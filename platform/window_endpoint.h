// Windows of other processes, found by title and sent posted messages (FindWindow and PostMessage
// across processes). Every window created with a title has an endpoint: an abstract Unix socket whose
// name holds the registry scope, a hash of the title and the owner's uid and pid, so that several
// windows of one title (one tray program per desktop session) coexist and are found together. An
// endpoint takes a message only from a peer that is root or runs as the window owner's uid, and posts
// it into the owner's message loop.
#pragma once
#include <cstdint>

struct RemoteWindow {
  char name[108];       // endpoint address (abstract, without its leading zero byte)
  uint32_t owner_uid;   // user the owning process runs as
  int32_t owner_pid;    // owning process
};

// Finds every window titled exactly `title` in any process (this one included), up to room of them
// into out; returns how many it found.
int win_find_windows_anywhere(const char16_t* title, RemoteWindow* out, int room);
// Posts the message to the window. False when the window has gone or its owner refused the message.
bool win_post_message_remote(const RemoteWindow* window, uint32_t message, uintptr_t wparam, intptr_t lparam);
