#include "OwnPlugins.h"

#include <QtGlobal>

void keepOwnPlugins() { qunsetenv("QT_PLUGIN_PATH"); }
