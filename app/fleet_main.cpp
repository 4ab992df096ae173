// rechannel-fleet: the fleet job in a window of its own, "Перевод парка
// станций". Every run is a child rechannel-cli beside this program.
#include <QApplication>

#include "FleetWindow.h"
#include "LogDirectory.h"
#include "OwnPlugins.h"

int main(int argc, char* argv[]) {
    keepOwnPlugins();
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("rechannel"));
    QApplication::setApplicationName(QStringLiteral("rechannel-fleet"));
    ensureLogDirectory();
    auto* window = new FleetWindow(FleetWindow::besideCli());
    window->show();
    const int exitCode = application.exec();
    delete window;
    return exitCode;
}
