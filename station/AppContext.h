#pragma once
#include <QString>

// Which station file the writers use.
class AppContext {
public:
    static void create();
    static AppContext* instance();

    const QString& stationFileName() const { return stationFileName_; }
    // A new name is a new file: it is not held.
    void setStationFileName(const QString& name) {
        stationFileName_ = name;
        stationFileHeld_ = false;
    }
    // Set when the station file is there but did not load: the writers then
    // leave it alone, so nothing it holds is replaced by what is in memory.
    bool stationFileHeld() const { return stationFileHeld_; }
    void holdStationFile() { stationFileHeld_ = true; }

private:
    AppContext() = default;
    QString stationFileName_;
    bool stationFileHeld_ = false;
    static AppContext* instance_;
};
