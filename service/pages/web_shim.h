// Stand-in for the web layer's request-scoped state and form helpers until the web server lands.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "service/web/http_server.h"

struct QueryPair {
  char* name;
  char* value;
};

struct HttpConnection {
  uint32_t index;
  char* path;
  char* body;
  uint32_t body_fill;
  char* boundary;
};

constexpr uint32_t REPLY_SIZE = 4096;
constexpr int FORM_FIELDS_MAX = 300;
extern char g_reply[REPLY_SIZE];

struct ClientAddress {
  uint32_t family;
  uint8_t address[16];
};
extern ClientAddress g_client_address;
extern int32_t g_session_check;

struct FormField {
  char* name;
  char* filename;
  char* value;
  char* value_end;
};
struct FormFields {
  int32_t count;
  FormField rows[FORM_FIELDS_MAX];
};
extern FormFields FormFieldTable;

struct SessionApiTable {
  const char* (*sess_create)(uint8_t level);
  const char* (*sess_challenge_get)(const uint8_t* client);
  const char* (*sess_challenge_new)(const uint8_t* client);
  int (*sess_verify_login)(const char* response, const char* user, const char* password, const uint8_t* client);
  uint32_t (*sess_var_get)(int i);
  void (*sess_var_set)(int i, uint32_t value);
  const char* (*sess_token_new)(const uint8_t* client);
  int (*sess_token_check)(const uint8_t* client, const char* token);
  int (*sess_from_cookie)(const char* header, int logout);
};
extern SessionApiTable SessionApi;

int http_find_field(const char* key);
int http_form_check_inputs(int count, ...);
void asp_write_text(FILE* out, const char* text);
void asp_write_script_text(FILE* out, const char* text);
size_t asp_escape_html(char* out, size_t room, const char* text);
