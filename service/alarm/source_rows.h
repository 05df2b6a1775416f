// Alarm state that follows the rows of the trap source list when a row is deleted.
#pragma once
#include <cstdint>

// Position `source` of a list of old_count sources was deleted: the alarm state of the positions
// after it (alarm words, conditions, highest level, repeating notices) moves up by one with their
// rows, the removed position's notices stop, and only the freed last position is cleared.
void ups_source_remove(uint8_t source, uint8_t old_count);
