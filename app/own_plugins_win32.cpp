#include "OwnPlugins.h"

#include <QtGlobal>

// Both the plugin path and the platform plugin's own path: either would make
// Qt take a qwindows.dll of another Qt build before ours.
void keepOwnPlugins() {
    qunsetenv("QT_PLUGIN_PATH");
    qunsetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
}
