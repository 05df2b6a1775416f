// The settings records every program holds: the main record `AgentSettings` (also the body of the
// tray link's settings frames, so its layout is a wire format) and the five list records, with the
// factory defaults. The settings file that fills them is settings_file.h.
#pragma once
#include <cstddef>
#include <cstdint>

struct AgentSettings {
  uint8_t stop_service;            // 1: the service's reactions are stopped
  uint8_t shutdown_type;           // 0 shut down, 1 power off, 2 hibernate, 3 none
  uint8_t condition_enable[5];     // power fail, battery low, overload, bypass, smart shutdown
  uint8_t pad7;
  uint32_t condition_delay[5];     // countdown length per condition, seconds
  uint8_t vm_enable;               // run the ESXi host script before the OS action
  uint8_t vm_type;                 // 0 ESXi 6.5 script, 1 ESXi 5 script, 2 neither (cluster scripts only)
  uint8_t guest_enable;            // handed to the ESXi script template
  uint8_t pad31;
  char16_t vm_server[129];         // ESXi host or vCenter address
  char16_t vm_account[33];
  char16_t vm_password[33];        // plain in memory
  uint8_t vm_password_mode;        // storing mode of vm_password and the cluster passwords: 0, 1, 2
  uint8_t pad423;
  char16_t vcli_path[256];         // folder of the VMware command-line tools
  uint8_t notify_enable;           // send alarm lines to the tray programs
  uint8_t command_enable;          // run the command file during a countdown
  uint16_t notify_period;          // repeat period of alarm notices, seconds
  uint32_t command_before;         // the command file runs below this many seconds left
  char16_t command_file[256];      // path of the command file
  uint16_t http_port;
  uint16_t https_port;
  uint8_t web_protocols;           // bit 0 HTTP, bit 1 HTTPS
  uint8_t pad1461;
  uint16_t web_refresh;            // page refresh interval, seconds
  char16_t account_user[3][33];    // administrator, device manager, user
  char16_t account_password[3][33];  // plain in memory
  uint8_t web_password_mode;       // storing mode of account_password
  uint8_t pad1861;
  uint16_t login_lock_enable;
  uint16_t login_retry;            // failed logins that lock an account
  uint16_t login_lock_minutes;
  uint16_t login_fail_count[3];    // run time only, never stored
  uint8_t pad1874[2];
  uint32_t login_lock_seconds[3];  // run time only, never stored
  uint8_t language;                // index into LanguageNames, 0 to 3
  uint8_t pad1889;
  char16_t install_date[33];       // "MM/DD/YYYY"
  char16_t description[129];
  char16_t contactor[33];
  char16_t system_name[33];
  char16_t location[65];
  uint32_t force_https;            // redirect plain HTTP to HTTPS
  uint32_t manageable;
  char16_t disk_name[8][17];       // drives whose use is measured
  uint32_t kestra_enable;          // accept the Kestra traps
  char kestra_power_fail[33];      // trap text meaning power failure
  char kestra_battery_low[33];     // trap text meaning battery low
  uint8_t pad2826[2];
};

static_assert(sizeof(AgentSettings) == 2828, "AgentSettings is a wire record");
static_assert(offsetof(AgentSettings, condition_enable) == 2);
static_assert(offsetof(AgentSettings, condition_delay) == 8);
static_assert(offsetof(AgentSettings, vm_enable) == 28);
static_assert(offsetof(AgentSettings, vm_server) == 32);
static_assert(offsetof(AgentSettings, vm_account) == 290);
static_assert(offsetof(AgentSettings, vm_password) == 356);
static_assert(offsetof(AgentSettings, vm_password_mode) == 422);
static_assert(offsetof(AgentSettings, vcli_path) == 424);
static_assert(offsetof(AgentSettings, notify_enable) == 936);
static_assert(offsetof(AgentSettings, notify_period) == 938);
static_assert(offsetof(AgentSettings, command_before) == 940);
static_assert(offsetof(AgentSettings, command_file) == 944);
static_assert(offsetof(AgentSettings, http_port) == 1456);
static_assert(offsetof(AgentSettings, web_protocols) == 1460);
static_assert(offsetof(AgentSettings, web_refresh) == 1462);
static_assert(offsetof(AgentSettings, account_user) == 1464);
static_assert(offsetof(AgentSettings, account_password) == 1662);
static_assert(offsetof(AgentSettings, web_password_mode) == 1860);
static_assert(offsetof(AgentSettings, login_lock_enable) == 1862);
static_assert(offsetof(AgentSettings, login_fail_count) == 1868);
static_assert(offsetof(AgentSettings, login_lock_seconds) == 1876);
static_assert(offsetof(AgentSettings, language) == 1888);
static_assert(offsetof(AgentSettings, install_date) == 1890);
static_assert(offsetof(AgentSettings, description) == 1956);
static_assert(offsetof(AgentSettings, contactor) == 2214);
static_assert(offsetof(AgentSettings, system_name) == 2280);
static_assert(offsetof(AgentSettings, location) == 2346);
static_assert(offsetof(AgentSettings, force_https) == 2476);
static_assert(offsetof(AgentSettings, manageable) == 2480);
static_assert(offsetof(AgentSettings, disk_name) == 2484);
static_assert(offsetof(AgentSettings, kestra_enable) == 2756);
static_assert(offsetof(AgentSettings, kestra_power_fail) == 2760);
static_assert(offsetof(AgentSettings, kestra_battery_low) == 2793);

constexpr int SOURCE_IP_MAX = 32;
constexpr int FORWARD_TRAP_MAX = 255;
constexpr int SNMP_MANAGER_MAX = 255;
constexpr int USM_USER_MAX = 32;
constexpr int CLUSTER_MAX = 16;

// Trusted trap sources.
struct SourceIpList {
  uint16_t listen_port;                   // trap listening port
  uint8_t logical;                        // 0 OR over the sources, other values AND
  uint8_t count;                          // entries in use
  char ip[SOURCE_IP_MAX][52];             // address text, IPv4 or IPv6
  char community[SOURCE_IP_MAX][17];      // SNMPv1/v2c community the source must use
  char usm_user[SOURCE_IP_MAX][17];       // SNMPv3 user of the source
};

// Where accepted traps are sent on.
struct ForwardTrapList {
  uint8_t count;
  char ip[FORWARD_TRAP_MAX][52];
  uint16_t port[FORWARD_TRAP_MAX];
};

// The agent's port and its SNMPv1 managers.
struct SnmpAgentSettings {
  uint16_t engine_time;                   // run time only: SNMP engine time, seconds
  uint16_t engine_boots;                  // run time only
  uint16_t listen_port;
  uint8_t count;
  char ip[SNMP_MANAGER_MAX][52];          // "0.0.0.0" stands for any address
  char community[SNMP_MANAGER_MAX][17];
  uint8_t permission[SNMP_MANAGER_MAX];   // 1 read only, 2 read and write, other no access
};

// The agent's SNMPv3 users.
struct UsmSettings {
  char context_name[17];
  uint8_t password_mode;                  // storing mode of auth and priv
  uint8_t count;
  char user[USM_USER_MAX][17];
  uint8_t security[USM_USER_MAX];         // 0 none, 1 authentication, 2 authentication and privacy
  char auth[USM_USER_MAX][17];            // plain in memory
  char priv[USM_USER_MAX][17];            // plain in memory
  uint8_t permission[USM_USER_MAX];       // 0 no access, 1 read only, 2 and above read and write
};

// VMware clusters shut down through vCenter.
struct ClusterList {
  int32_t count;
  char vcenter[CLUSTER_MAX][52];
  char account[CLUSTER_MAX][33];
  char password[CLUSTER_MAX][33];         // plain in memory
  char cluster[CLUSTER_MAX][33];
};

extern AgentSettings g_settings;
extern SourceIpList g_source_ips;
extern ForwardTrapList g_forward_traps;
extern SnmpAgentSettings g_snmp_agent;
extern UsmSettings g_usm;
extern ClusterList g_clusters;

// The records agent.ini is written from, taken together (a copy to put back when a change is undone).
struct StoredRecords {
  AgentSettings settings;
  SourceIpList sources;
  ForwardTrapList targets;
  SnmpAgentSettings agent;
  UsmSettings usm;
  ClusterList clusters;
};
// A copy of the six records as they are now, and the copy put back.
StoredRecords cfg_records_copy();
void cfg_records_put(const StoredRecords& records);
// Gives settings that are about to replace g_settings its run-time state, which no file or frame
// carries: the login counters and the stop flag (switched only with the timers).
void cfg_keep_run_time_state(AgentSettings* settings);

// Language folder names indexed by AgentSettings.language.
extern const char16_t* const LanguageNames[4];

// The language name for the settings' language; a value outside 0-3 gives "English".
const char16_t* cfg_language_name();

// Puts the factory settings into every record but ClusterList.
void cfg_set_defaults();
// Pass phrases of an installation's own: gives the first SNMPv3 user (the factory "manager")
// CFG_MADE_PHRASE_LENGTH random characters, safe in the settings file, the web pages and the tray
// link (letters, digits, '-' and '_'), as its authentication (auth) and/or privacy (priv) pass
// phrase. False when the random source failed; the user's pass phrases are then left as they are.
constexpr int CFG_MADE_PHRASE_LENGTH = 16;
bool cfg_make_manager_phrases(bool auth, bool priv);
