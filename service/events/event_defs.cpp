// Event definitions per language and the event module's start: names and levels of the four
// groups are read from the language's event files, and EventApi is filled.
#include "service/events/event_defs.h"

#include <cstdio>
#include <cstdlib>

#include "common/text.h"
#include "platform/profile.h"
#include "service/events/event_log.h"
#include "service/events/event_views.h"

EventDefsRecord EventDefs;
EventApiTable EventApi;

namespace {

char g_install_dir[1024];  // UTF-8, no trailing separator

struct GroupFile {
  const char* file;
  uint32_t size;
  uint8_t* level;
  char16_t** name;
};

// Loading order of the groups.
const GroupFile kGroups[] = {
    {"event-common.ini", EVT_COMMON_EVENTS, EventDefs.common_level, EventDefs.common_name},
    {"event-MIBv4.ini", EVT_MIBV4_EVENTS, EventDefs.mibv4_level, EventDefs.mibv4_name},
    {"event-MIBv5.ini", EVT_MIBV5_EVENTS, EventDefs.mibv5_level, EventDefs.mibv5_name},
    {"event-Sensor.ini", EVT_SENSOR_EVENTS, EventDefs.sensor_level, EventDefs.sensor_name},
};

const GroupFile* group_of(uint8_t group) {
  switch (group) {
    case EVT_GROUP_COMMON: return &kGroups[0];
    case EVT_GROUP_MIBV4: return &kGroups[1];
    case EVT_GROUP_MIBV5: return &kGroups[2];
    case EVT_GROUP_SENSOR: return &kGroups[3];
    default: return nullptr;
  }
}

// Decimal value as atoi reads it (leading blanks, a sign, digits up to the first other
// character; 0 without digits), kept to its low 8 bits. Wraps instead of overflowing.
uint8_t parse_level(const char16_t* s) {
  while (*s == u' ' || (*s >= u'\t' && *s <= u'\r')) ++s;
  bool negative = false;
  if (*s == u'+' || *s == u'-') negative = *s++ == u'-';
  uint32_t v = 0;
  for (; *s >= u'0' && *s <= u'9'; ++s) v = v * 10u + uint32_t(*s - u'0');
  if (negative) v = 0u - v;
  return uint8_t(v & 0xFF);
}

void key_text(char16_t* out, size_t room, const char* stem, uint32_t n) {
  char key[24];
  snprintf(key, sizeof key, "%s%u", stem, n);
  text_bytes_to_utf16(out, room, key);
}

void load_group(const GroupFile& g, const char* language_utf8) {
  char path[sizeof g_install_dir + 512];
  int len = snprintf(path, sizeof path, "%s/Language/%s/%s", g_install_dir, language_utf8, g.file);
  // A path that does not fit reads as a missing file: every entry gets its default.
  const char* file = len > 0 && size_t(len) < sizeof path ? path : nullptr;
  for (uint32_t n = 1; n <= g.size; ++n) {
    char16_t key[24];
    char16_t text[EVT_NAME_MAX + 1];
    key_text(key, 24, "name", n);
    uint32_t units = profile_get_string(u"Alarm-Event", key, u"", text, EVT_NAME_MAX + 1, file);
    free(g.name[n - 1]);
    g.name[n - 1] = static_cast<char16_t*>(malloc((units + 1) * sizeof(char16_t)));
    if (g.name[n - 1]) text_copy16(g.name[n - 1], units + 1, text);

    char16_t level[10];
    key_text(key, 24, "level", n);
    profile_get_string(u"Alarm-Event", key, u"0", level, 10, file);
    g.level[n - 1] = parse_level(level);
  }
}

}  // namespace

void evt_load_definitions(const char16_t* language) {
  char lang[256];
  text_utf16_to_utf8(lang, sizeof lang, language ? language : u"");
  for (const GroupFile& g : kGroups) load_group(g, lang);
}

void evt_free_definitions() {
  for (const GroupFile& g : kGroups)
    for (uint32_t i = 0; i < g.size; ++i) {
      free(g.name[i]);
      g.name[i] = nullptr;
    }
}

void evt_init(const char16_t* install_dir, const char16_t* language) {
  text_utf16_to_utf8(g_install_dir, sizeof g_install_dir, install_dir ? install_dir : u"");
  EventApi = EventApiTable{
      evt_load_definitions,
      evt_free_definitions,
      evt_log,
      evt_read_recent_line,
      evt_split_line,
      evt_clear_log,
      evt_render_page,
      evt_render_range,
      evt_render_pager,
      evt_export_csv,
  };
  evt_load_definitions(language);
  evt_load_log();
}

const char* evt_install_dir() { return g_install_dir; }

const char16_t* evt_name(uint8_t group, uint32_t n) {
  const GroupFile* g = group_of(group);
  if (!g || n < 1 || n > g->size || !g->name[n - 1]) return u"";
  return g->name[n - 1];
}

uint8_t evt_level(uint8_t group, uint32_t n) {
  const GroupFile* g = group_of(group);
  if (!g || n < 1 || n > g->size) return 0;
  return g->level[n - 1];
}
