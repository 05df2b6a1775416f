// A helper program for the system tests:
//   sc create NAME COMMAND | start NAME | stop NAME | query NAME | delete NAME
//       drives the service manager (the state, as a word, for query);
//   window TITLE   runs a hidden window with that title until a WM_CLOSE ends it (as the tray does);
//   stoprunning LIBRARY   loads the library with dlopen and calls its StopRunning.
#include <cstdio>
#include <cstring>

#include <dlfcn.h>

#include "common/text.h"
#include "platform/service_control.h"
#include "platform/window.h"

static int service_command(int argc, char** argv) {
  if (argc < 4) return 2;
  const char* verb = argv[2];
  char16_t name[64];
  text_utf8_to_utf16(name, 64, argv[3]);
  ScHandle manager = sc_open_manager();
  if (!manager) {
    fprintf(stderr, "no service manager\n");
    return 1;
  }
  ScHandle service = !strcmp(verb, "create") && argc > 4 ? sc_create_service(manager, name, argv[4])
                                                          : sc_open_service(manager, name);
  int code = 1;
  ServiceStatus status;
  if (!service) {
    fprintf(stderr, "cannot open %s\n", argv[3]);
  } else if (!strcmp(verb, "create")) {
    code = 0;
  } else if (!strcmp(verb, "start")) {
    code = sc_start(service) ? 0 : 1;
  } else if (!strcmp(verb, "stop")) {
    code = sc_control(service, SERVICE_CONTROL_STOP, &status) ? 0 : 1;
  } else if (!strcmp(verb, "delete")) {
    code = sc_delete(service) ? 0 : 1;
  } else if (!strcmp(verb, "query") && sc_query_status(service, &status)) {
    const char* word = status.current_state == SERVICE_RUNNING        ? "RUNNING"
                       : status.current_state == SERVICE_STOP_PENDING ? "STOP_PENDING"
                       : status.current_state == SERVICE_STOPPED      ? "STOPPED"
                                                                      : "OTHER";
    printf("%s\n", word);
    code = 0;
  }
  sc_close(service);
  sc_close(manager);
  return code;
}

static intptr_t window_proc(WindowHandle w, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (message == WM_CLOSE) {
    printf("WM_CLOSE %lu\n", static_cast<unsigned long>(wparam));
    fflush(stdout);
    win_destroy_window(w);
    return 0;
  }
  if (message == WM_DESTROY) win_post_quit_message(0);
  return win_def_window_proc(w, message, wparam, lparam);
}

static int window_command(const char* title) {
  char16_t title16[64];
  text_utf8_to_utf16(title16, 64, title);
  if (!win_register_class(u"HelperWindowClass", window_proc)) return 1;
  if (!win_create_window(u"HelperWindowClass", title16)) return 1;
  printf("ready\n");
  fflush(stdout);
  WindowMessage m;
  while (win_get_message(&m)) win_dispatch_message(&m);
  return 0;
}

static int stoprunning_command(const char* library) {
  void* lib = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  using StopRunningProc = int32_t (*)(uint32_t, uint32_t, uint32_t);
  auto stop_running = reinterpret_cast<StopRunningProc>(dlsym(lib, "StopRunning"));
  if (!stop_running) return 2;
  printf("StopRunning=%d\n", stop_running(0, 0, 0));
  dlclose(lib);
  return 0;
}

int main(int argc, char** argv) {
  if (argc >= 3 && !strcmp(argv[1], "sc")) return service_command(argc, argv);
  if (argc == 3 && !strcmp(argv[1], "window")) return window_command(argv[2]);
  if (argc == 3 && !strcmp(argv[1], "stoprunning")) return stoprunning_command(argv[2]);
  fprintf(stderr, "usage: vellmar_helper sc|window|stoprunning ...\n");
  return 2;
}
