#pragma once
#include <QString>

// Which station file the writers use, and where the program lives.
class AppContext {
public:
    static void create();
    static AppContext* instance();

    const QString& stationFileName() const { return stationFileName_; }
    void setStationFileName(const QString& name) { stationFileName_ = name; }
    const QString& appDir() const { return appDir_; }
    void setAppDir(const QString& dir) { appDir_ = dir; }

private:
    AppContext() = default;
    QString stationFileName_;
    QString appDir_;
    static AppContext* instance_;
};
