// The operating system's power actions: the shutdown privilege, shut down, power off, hibernate.
// With VELLMAR_POWER_SIMULATE set (to a file name, or empty) nothing real happens: each action
// appends one line ("shutdown", "poweroff", "hibernate") to that file and returns at once.
#pragma once

// True when this process may shut the machine down (root or CAP_SYS_BOOT); always under the
// simulation.
bool power_enable_shutdown_privilege();

// Each action is refused (false, nothing done or written) when not simulated and the installation
// folder lies under /tmp or VELLMAR_TEST is set, so a test can never reach the real action.
// Halts the machine.
bool power_shutdown(const char* install_dir);
// Powers the machine off.
bool power_poweroff(const char* install_dir);
// Hibernates the machine; returns after the resume.
bool power_hibernate(const char* install_dir);

// True when the power actions are simulated.
bool power_simulated();
