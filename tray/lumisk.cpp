// The tray status program Lumisk.
#include "tray/tray.h"

int main() { return tray_main(); }
