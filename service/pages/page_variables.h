// Template variables of the UPS pages: the summary, the event history, the shutdown, reaction,
// trap, SNMP and VMware settings, and the list tables with their row-selection calls.
#pragma once
#include <cstdint>
#include <cstdio>

#include "service/web/request_state.h"

// Set to 3 by the history page's log export; 5 at start.
extern int32_t NOT_DELAY;

// Writes the value of a UPS page variable to the page; nothing for a name no table lists.
void asp_page_variable(FILE* out, const char* name, int pair_count, QueryPair* pairs);
