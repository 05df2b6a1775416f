// The configuration console Ostrel.
#include "tools/config/config_console.h"

int main(int argc, char** argv) { return cfgtool_main(argc, argv); }
