#pragma once
// Reading and writing the XML document of a station file. The file carries
// its own declaration line, tab indentation and CR LF line ends on every
// platform, because the vendor's tools read them that way.

#include <QByteArray>
#include <QString>
#include <pugixml.hpp>

namespace station_xml {

// The first line of every station file: two spaces before "encoding", one
// before "?>", no byte-order mark.
inline constexpr char kDeclaration[] = "<?xml version=\"1.0\"  encoding=\"windows-1251\" ?>";

// A station file holds one station: a full route table is under a megabyte.
// Anything far larger is not a station file and is not read into memory,
// and no writer makes a file larger than this.
inline constexpr qint64 kMaxFileBytes = 8 * 1024 * 1024;

// A station file is three elements deep. Far deeper nesting is not one, and
// rewriting it (one tab per level on every line) would grow with the square
// of the depth.
inline constexpr int kMaxNesting = 16;

// The character-type locale the vendor's files were written under. Set where
// the platform has it; elsewhere nothing is changed (every name and value in
// a station file is ASCII).
void useStationFileCharTypeLocale();

// Parses the file with the library's default options. False (document left
// empty) when the file is missing, unreadable, no regular file, too large,
// nested deeper than kMaxNesting or not well-formed. With `problem` given, it
// gets what is wrong with a file that is there, to follow its path ("is not
// well-formed XML (...)"; empty when nothing is there), and nothing is
// reported; without it, a path that is no regular file and the size limit
// are reported through the file problem sink.
bool loadDocument(const QString& path, pugi::xml_document& doc, QString* problem = nullptr);

// The exact bytes of a station file for the document.
QByteArray serialize(const pugi::xml_document& doc);

// Writes a temporary file next to `path` and renames it over the old one, so
// a crash or a full disk in the middle of a save leaves the previous file
// whole. False when nothing was replaced; why is reported through the file
// problem sink.
bool saveDocument(const pugi::xml_document& doc, const QString& path);

}  // namespace station_xml
