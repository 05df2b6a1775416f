// The list editors of the UPS pages: trusted trap sources, trap targets, SNMP managers, SNMPv3
// users and VMware clusters. One row is added, edited or deleted per post.
#pragma once

// Handles the post of list page `page` (an index of FIFO_GROUP_POST) and leaves its reply line.
void list_form_post(int page);
