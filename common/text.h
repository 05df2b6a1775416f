// The text helpers live in the platform layer, below everything; this name stays for the programs.
#pragma once
#include "platform/text.h"
