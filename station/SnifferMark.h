#pragma once
// The number of the last sniffer packet counted for a station, kept in a
// small file beside its station file ("291.sniff" beside "291.xml"), so a new
// session never counts a packet an earlier one counted: the station keeps
// its last packets in its ring for as long as nothing new arrives. The
// station file's format is not touched.
#include <QString>
#include <optional>

// "<station file without .xml>.sniff".
QString snifferMarkPath(const QString& stationFile);

// The packet number (0 to 255) kept for the station; nothing when no mark
// is kept yet. A mark that cannot be read or holds no number is reported
// through the file problem sink and taken as none.
std::optional<int> loadSnifferMark(const QString& stationFile);

// Keeps `sequence` as the last packet counted (through a temporary file and
// a rename). False, with the reason reported through the file problem sink,
// when it cannot be kept.
bool saveSnifferMark(const QString& stationFile, int sequence);
