// Shutdown actions and the other scheduled actions (alarm notice, event reload, trap forward), the
// VMware shutdown scripts, and the small file helpers beside them.
#pragma once
#include <cstddef>
#include <cstdint>

// How long a waited VMware script may hold the loop thread, milliseconds.
constexpr uint32_t VM_SCRIPT_WAIT_MS = 120000;

// How long after a failed operating-system action it is tried again, in 100 ms units.
constexpr uint32_t POWER_RETRY_UNITS = 600;

// The condition whose countdown ran out last (0 to 4), -1 when none did; the retry of a failed
// operating-system action goes on only while that condition is on.
extern int32_t g_shutdown_condition;

// Room of the reason text of a refused program.
constexpr size_t PROGRAM_REFUSAL_MAX = 1200;

// Starts a command file or script (shell_open) only when it can be trusted (file_trusted: a file,
// owned by root, nobody else may write it, a folder above it or a link on the way); otherwise, also
// when it is missing or a folder, runs nothing and logs common event 15 with the path and the
// reason. False when nothing was started.
bool shell_open_trusted(const char* path, uint32_t wait_ms);

// Queues the shutdown action (kind 20, after one 100 ms unit) when the shutdown privilege is
// granted; otherwise reports the operating-system action as failed (below).
void shutdown_request();
// Carries out a due scheduled action of kind 0, 20, 21, 22 or 23; other kinds do nothing.
// A failed operating-system action (halt, power off, hibernate, or its privilege) is logged as
// common event 14 naming it, keeps the alarm state and is tried again alone (kind 23, without the
// command file or the VMware scripts) every POWER_RETRY_UNITS while the condition lasts.
void action_execute(uint8_t kind);

// Writes command/SetVar.ESX65.cmd from its template and starts the ESXi command script of the VM
// type; with wait nonzero it waits for it up to VM_SCRIPT_WAIT_MS. The scripts (also the cluster
// script below) start only when they, the vCLI folder (which must be there) and the tools they call
// from it (each found in one of the places the scripts look) can be trusted (shell_open_trusted);
// a refused one is logged with what is missing or untrusted, and the shutdown goes on without it.
void vm_run_esxi_script(int32_t wait);
// Writes command/SetVar.VMCluster.cmd for cluster i and starts command/command.VMCluster.cmd.
void vm_run_cluster_script(int32_t wait, int32_t cluster);
// The scripts' log command/vmware-shutdown.log (it may name hosts and accounts) is readable by the
// service's user only: set so at start when it is there, and made so before a script starts.
void vm_secure_log(bool create);

// One argument of a variables template: a text (UTF-8) or, when text is null, a number.
struct TemplateArg {
  const char* text;
  int32_t number;
};

// Fills a template: the k-th conversion takes argument k, "%s" for a text and "%d" for a number,
// each text written with its single quotes as '\'' (the template puts it inside '...'); "%%"
// gives "%"; any other or mismatched conversion, and those beyond the arguments, are copied as
// they stand (a mismatched one still uses up its argument). Returns the bytes written into out
// (terminated), or -1 with nothing usable when a text holds a control character (below 0x20 or
// 0x7F) or the room is too small.
int64_t vm_fill_template(char* out, size_t room, const char* format, const TemplateArg* args, int count);

// The whole file as a new NUL-terminated buffer that the caller frees with free(); null when it
// cannot be read.
char* util_read_file(const char* path);
// 1 when the directory was created, else 0.
int util_create_directory(const char* utf8_path);
// Copies the manual of the language (0 to 3) over Language/Vellmar-UM.pdf; other values do nothing.
void util_install_manual(uint32_t language);

// A UTF-16 settings field of `units` units (terminated or not) as UTF-8 into out.
void settings_text_utf8(char* out, size_t room, const char16_t* field, size_t units);
