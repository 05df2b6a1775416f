// Service glue between the service manager and the hidden window.
#include "service/core/service_glue.h"

#include <atomic>

#include "platform/clock.h"
#include "service/core/agent.h"

static const char16_t kServiceName[] = u"Vellmar";

static ServiceStatus g_service_status;
static ServiceStatusHandle g_status_handle;
static uint32_t g_checkpoint;

void service_dispatch_thread() { svc_start_ctrl_dispatcher(kServiceName, service_main); }

void service_main(uint32_t, char16_t**) {
  g_status_handle = svc_register_ctrl_handler(kServiceName, service_ctrl_handler);
  if (!g_status_handle) return;
  g_service_status.service_type = SERVICE_WIN32_OWN_PROCESS;
  g_service_status.service_specific_exit_code = 0;
  service_report_status(SERVICE_RUNNING, 0, 0);
}

void service_report_status(uint32_t state, uint32_t exit_code, uint32_t wait_hint) {
  g_service_status.current_state = state;
  g_service_status.win32_exit_code = exit_code;
  g_service_status.wait_hint = wait_hint;
  g_service_status.controls_accepted = state == SERVICE_START_PENDING ? 0u : uint32_t(SERVICE_ACCEPT_STOP);
  if (state == SERVICE_RUNNING || state == SERVICE_STOPPED) g_service_status.checkpoint = 0;
  else g_service_status.checkpoint = g_checkpoint++;
  svc_set_status(g_status_handle, &g_service_status);
}

void service_report_stopped() {
  if (g_service_status.current_state != SERVICE_STOPPED) service_report_status(SERVICE_STOPPED, 0, 0);
}

void service_ctrl_handler(uint32_t control) {
  if (control != SERVICE_CONTROL_STOP) {
    service_report_status(g_service_status.current_state, 0, 0);
    return;
  }
  service_report_stopped();
  // A stop that comes while the program is still starting waits for its window.
  WindowHandle window;
  while (!(window = std::atomic_ref<WindowHandle>(g_main_hwnd).load(std::memory_order_acquire))) clock_sleep_ms(10);
  win_send_message(window, WM_CLOSE, 1, 0);
}
