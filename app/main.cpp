// The program's entry point: one window, no options, no console.

#include <QApplication>

#include "AppContext.h"
#include "LogDirectory.h"
#include "MainWindow.h"
#include "OwnPlugins.h"
#include "StationRecord.h"

int main(int argc, char* argv[]) {
    // The arguments go to the application object only; nothing else reads them.
    keepOwnPlugins();
    QApplication application(argc, argv);
    ensureLogDirectory();
    StationRecord::create();
    AppContext::create();

    auto* window = new MainWindow();
    window->show();
    const int exitCode = application.exec();
    // The window waits for a running job and releases the station record.
    delete window;
    return exitCode;
}
