// The server's own pages: template variables of the login, account, system information, web
// settings and language pages, their form handlers, and the form checks the UPS pages share.
#pragma once
#include <cstdio>

#include "common/settings.h"
#include "common/settings_ranges.h"
#include "service/web/asp_template.h"
#include "service/web/request_state.h"

// Handles a POST; pages that are not system pages go to the form-post callback.
void http_device_form_post(HttpConnection* c);
// The message page's texts (g_message_title, _body, _action) of a reply just made are kept for
// the request's session, or without one for its client address; http_message_recall puts back,
// for a request of the message page, the newest texts kept for its own session or address
// (empty ones when there are none), so that no one is shown another's reply.
void http_message_keep();
void http_message_recall(const char* cookie);
// Writes a template variable of the system pages; names of no system group go to the page-variable
// callback. Request handling hands it to the template renderer.
void asp_device_vars(FILE* out, const char* name, int pair_count, QueryPair* pairs);
// Index in FormFieldTable of the first field whose name's first 7 bytes equal the key's; -1 none.
int http_find_field(const char* key);
// 1 (with the "Incorrect input!" reply) when a field matching one of the names in its first 7
// bytes holds < > & ' or "; 0 otherwise. 16 or more names give 1 without a reply.
int http_form_check_inputs(int count, ...);
// Undoes the "Advanced" stored-password coding: crypt64, then AES-256 blocks with the built-in key.
void cfg_decrypt_password(const char* coded, char* out, size_t room);
// Lowest access level a POST to the page needs (0 admin, 1 device manager, 2 user), or 3 for
// the login, which needs no session.
int http_post_required_level(const char* page);
// The stored records as they are before a form changes them. A form that refuses a value, or
// whose save fails, puts them back with http_settings_restore, so that nothing in use changes.
void http_settings_keep();
void http_settings_restore();
// Saves agent.ini after a form's change. When the file cannot be replaced the kept records are
// put back and the reply is the save-failure message. True when saved.
bool http_settings_save();
extern const char REPLY_SAVE_FAILED[];

// Numbers of a form, each read with overflow checks: true with *out when the text is a decimal
// number (an optional sign and digits, nothing else) inside the setting's range, or inside
// minimum..maximum; false for anything else.
bool http_form_setting(SettingId id, const char* text, int64_t* out);
bool http_form_decimal(const char* text, int64_t minimum, int64_t maximum, int64_t* out);
// A page or index of a view, never refused: blanks around the number are skipped, a number past
// either end gives that end, and a text that is no number gives minimum.
int64_t http_form_clamped(const char* text, int64_t minimum, int64_t maximum);
// An address of a list: dotted-decimal IPv4 or IPv6 text (a zone allowed); 0.0.0.0 and :: only
// where any_host allows any sender.
bool http_form_address(const char* text, bool any_host);
