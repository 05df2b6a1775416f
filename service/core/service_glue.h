// Service glue: the dispatcher thread, the service's main routine and its control handler, which
// turns a stop request into WM_CLOSE with wParam 1 for the hidden window.
#pragma once
#include <cstdint>

#include "platform/service_manager.h"

// Thread routine started first thing at start-up.
void service_dispatch_thread();
void service_main(uint32_t argc, char16_t** argv);
void service_ctrl_handler(uint32_t control);
void service_report_status(uint32_t state, uint32_t exit_code, uint32_t wait_hint);
void service_report_stopped();
