// Stop and removal of the installed service and tray programs.
#include "tools/removal/farnhide.h"

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/service_control.h"
#include "platform/window.h"
#include "platform/window_endpoint.h"

static const char16_t kTrayTitle[] = u"Vellmar-Status";
static const char16_t kServiceWindowTitle[] = u"Vellmar-Service";
static const char16_t kServiceName[] = u"Vellmar";
static const uint32_t kStopWaitMs = 30000;

void farnhide_close_window(const char16_t* title, int posts) {
  for (int round = 0; round < posts; ++round) {
    RemoteWindow found[32];
    int count = win_find_windows_anywhere(title, found, 32);
    if (count > 32) count = 32;
    bool taken = false;
    for (int i = 0; i < count; ++i) taken |= win_post_message_remote(&found[i], WM_CLOSE, 1, 0);
    // A window whose owner refuses us would be asked in vain.
    if (!taken) return;
    clock_sleep_ms(1000);
  }
}

// Waits until the service has stopped; false after the time-out.
static bool wait_stopped(ScHandle service) {
  uint32_t start = clock_tick_count();
  for (;;) {
    ServiceStatus status;
    if (!sc_query_status(service, &status) || status.current_state == SERVICE_STOPPED) return true;
    if (clock_tick_count() - start >= kStopWaitMs) return false;
    clock_sleep_ms(100);
  }
}

extern "C" __attribute__((visibility("default"))) int32_t StopRunning(uint32_t, uint32_t, uint32_t) {
  farnhide_close_window(kTrayTitle, 31);
  ScHandle manager = sc_open_manager();
  if (!manager) {
    console_message_box("Fail to open Service Control Manager!\n", "");
    return 0;
  }
  ScHandle service = sc_open_service(manager, kServiceName);
  if (!service) {
    console_message_box("Fail to open Vellmar!\n", "");
    sc_close(manager);
    return 0;
  }
  ServiceStatus status;
  if (sc_query_status(service, &status) && status.current_state == SERVICE_STOPPED) {
    // A service program started by hand still has its window.
    farnhide_close_window(kServiceWindowTitle, 11);
  } else {
    sc_control(service, SERVICE_CONTROL_STOP, &status);
    farnhide_close_window(kServiceWindowTitle, 31);
  }
  // Deleted once it has stopped (or the wait has run out).
  wait_stopped(service);
  sc_delete(service);
  sc_close(service);
  sc_close(manager);
  return 0;
}
