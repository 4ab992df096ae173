#pragma once
// The Windows programs ship their own Qt plugins beside them (platforms/,
// styles/, named by qt.conf). Another Qt program on the laptop may have set
// QT_PLUGIN_PATH or QT_QPA_PLATFORM_PLUGIN_PATH for itself; Qt searches
// those first and would load plugins of another Qt build, and the window
// would not start. Called first thing in main, before the application
// object loads any plugin.
void keepOwnPlugins();
