// Event log views written into "<install>/httpd/htdocs/tmp" for the web pages: the table of one
// page or of a date range (iframe_log.htm, built from the selected lines in events.txt), the row
// of page buttons, and the CSV export (event_log.csv). Reached through EventApi slots 6 to 9.
#pragma once
#include <cstdint>

constexpr uint32_t EVENT_PAGE_LINES = 30;

void evt_render_page(uint32_t page);
void evt_render_range(const uint8_t* from, const uint8_t* to);
uint32_t evt_render_pager(char* buffer, int32_t page);
void evt_export_csv();
