// Threads beside the window thread.
#pragma once

// Starts a detached thread running the routine; false when it cannot be started.
bool thread_start(void (*routine)());
