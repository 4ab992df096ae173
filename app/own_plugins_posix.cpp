#include "OwnPlugins.h"

// Debian's Qt is the system's own: a QT_PLUGIN_PATH set here is the user's
// choice for every Qt program, and it stays.
void keepOwnPlugins() {}
