// Form handlers of the UPS pages: the page table, the checks they share, and the pages that are
// not list editors (history view and configuration, device settings and commands, SNMP port and
// context, settings download and upload, debug). The list editors are in list_forms.h.
#pragma once
#include <cstdint>

#include "service/web/request_state.h"

// Index of each page in FIFO_GROUP_POST.
enum : int {
  POST_HIST_LOG, POST_HIST_CONFIG, POST_DEV_CONFIG, POST_DEV_ISOURCE, POST_DEV_IFORWARD, POST_DEV_CONTROL,
  POST_DEV_SNMPV1, POST_DEV_IACCESS, POST_DEV_SNMPV3, POST_DEV_IUSM, POST_SYS_BATCH, POST_DEV_ICLUSTER,
  POST_DEBUG, POST_PAGE_COUNT,
};
extern const char* const FIFO_GROUP_POST[POST_PAGE_COUNT];

extern const char REPLY_NOT_FOUND[];   // RN
extern const char REPLY_BAD_INPUT[];   // a refused value
extern const char REPLY_CONFIG_UPDATED[];  // R4, back to the configuration page
extern const char REPLY_SNMPV1_UPDATED[];  // R7
extern const char REPLY_SNMPV3_UPDATED[];  // R8

// Handles a posted UPS form: finds its page, parses the body, checks and applies the fields and
// leaves one reply line in g_reply.
void web_form_post(HttpConnection* connection);

// Helpers shared by the form pages.
// The value of the first field whose name begins with prefix, or null.
const char* form_value(const char* prefix);
// The last byte of a field's value (for an uploaded file), or null.
const char* form_value_end(const char* prefix);
// Refuses (with the "Incorrect input!" reply) a field matching one of the names in its first
// seven characters whose value holds a control character; 1 when refused.
int form_refuse_controls(int count, const char* const* names);
// The token check of the settings, command and list pages: 1 when SYS_UCTOKEN is present, not
// empty and the client's token.
int form_token_ok();
// Writes the reply line.
void form_reply(const char* text);
