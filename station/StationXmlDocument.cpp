#include "StationXmlDocument.h"

#include <QFile>
#include <QSaveFile>
#include <clocale>
#include <string>

#include "FileProblems.h"
#include "RegularFile.h"

namespace station_xml {

namespace {

class StringWriter : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
    std::string text;
};

// What keeps a file at the path from loading; the text follows the path.
struct LoadProblem {
    enum class Kind { None, NotRegular, TooLarge, Other } kind = Kind::None;
    QString text;
};

LoadProblem problem(LoadProblem::Kind kind, const QString& text) { return {kind, text}; }

LoadProblem tooLarge() {
    return problem(LoadProblem::Kind::TooLarge, QStringLiteral("is larger than %1 MiB").arg(kMaxFileBytes >> 20));
}

// Reads at most kMaxFileBytes + 1 bytes, whatever the file claims its size
// is. False when nothing is there, or with what is wrong in *found.
bool readBounded(const QString& path, QByteArray& data, LoadProblem* found) {
    QFile file;
    QString why;
    switch (openRegularFile(file, path, RegularFileMode::Read, &why)) {
    case RegularFileOpen::Opened: break;
    case RegularFileOpen::Missing: return false;
    case RegularFileOpen::NotRegular:
        return *found = problem(LoadProblem::Kind::NotRegular, QStringLiteral("is %1, not a regular file").arg(why)), false;
    case RegularFileOpen::Failed:
        return *found = problem(LoadProblem::Kind::Other, QStringLiteral("cannot be read (%1)").arg(why)), false;
    }
    if (file.size() > kMaxFileBytes) return *found = tooLarge(), false;
    data.clear();
    char chunk[64 * 1024];
    for (;;) {
        const qint64 got = file.read(chunk, sizeof chunk);
        if (got < 0)
            return *found = problem(LoadProblem::Kind::Other, QStringLiteral("cannot be read (%1)").arg(file.errorString())), false;
        if (got == 0) break;
        if (data.size() + got > kMaxFileBytes) return *found = tooLarge(), false;
        data.append(chunk, static_cast<int>(got));
    }
    return true;
}

// Walks the tree without recursion: the document may be hostile.
bool nestedAtMost(const pugi::xml_document& doc, int maxDepth) {
    int depth = 1;
    for (pugi::xml_node node = doc.first_child(); node;) {
        if (depth > maxDepth) return false;
        if (const pugi::xml_node child = node.first_child()) {
            node = child;
            ++depth;
            continue;
        }
        while (!node.next_sibling()) {
            node = node.parent();
            if (--depth == 0) return true;   // back at the document
        }
        node = node.next_sibling();
    }
    return true;
}

}  // namespace

void useStationFileCharTypeLocale() {
#ifdef _WIN32
    std::setlocale(LC_CTYPE, ".1251");
#endif
}

bool loadDocument(const QString& path, pugi::xml_document& doc, QString* problemText) {
    doc.reset();
    if (problemText) problemText->clear();
    if (path.isEmpty()) return false;
    LoadProblem found;
    QByteArray data;
    if (readBounded(path, data, &found)) {
        const pugi::xml_parse_result result =
            doc.load_buffer(data.constData(), static_cast<size_t>(data.size()), pugi::parse_default, pugi::encoding_auto);
        if (!result)
            found = problem(LoadProblem::Kind::Other, QStringLiteral("is not well-formed XML (%1 at byte %2)")
                                                          .arg(QLatin1String(result.description()))
                                                          .arg(result.offset));
        else if (!nestedAtMost(doc, kMaxNesting))
            found = problem(LoadProblem::Kind::Other, QStringLiteral("is nested deeper than %1 levels").arg(kMaxNesting));
        else
            return true;
    }
    doc.reset();
    if (problemText) {
        *problemText = found.text;
    } else if (found.kind == LoadProblem::Kind::NotRegular) {
        reportFileProblem(QStringLiteral("%1 %2: left alone").arg(path, found.text));
    } else if (found.kind == LoadProblem::Kind::TooLarge) {
        reportFileProblem(QStringLiteral("%1 %2: not read as a station file").arg(path, found.text));
    }
    return false;
}

QByteArray serialize(const pugi::xml_document& doc) {
    StringWriter writer;
    doc.save(writer, "\t", pugi::format_indent | pugi::format_no_declaration, pugi::encoding_utf8);

    QByteArray out;
    out.reserve(static_cast<int>(sizeof kDeclaration + 2 + writer.text.size() + writer.text.size() / 16));
    out.append(kDeclaration);
    out.append("\r\n");
    // What text mode does on the vendor's platform: every LF becomes CR LF.
    // The parser has normalised line ends, so no CR stands before an LF.
    for (char c : writer.text) {
        if (c == '\n') out.append('\r');
        out.append(c);
    }
    return out;
}

bool saveDocument(const pugi::xml_document& doc, const QString& path) {
    const QByteArray bytes = serialize(doc);
    // A file the loader would refuse is never written: the old one stays.
    if (bytes.size() > kMaxFileBytes) {
        reportFileProblem(QStringLiteral("%1 not saved: it would pass the %2 MiB limit of a station file; the file keeps "
                                         "what it held")
                              .arg(path)
                              .arg(kMaxFileBytes >> 20));
        return false;
    }
    if (!regularFileOrNothingAt(path)) return false;
    const bool existed = QFile::exists(path);
    auto notSaved = [&](const QString& why) {
        reportFileProblem(QStringLiteral("%1 not saved: %2%3")
                              .arg(path, why, existed ? QStringLiteral("; the file keeps what it held") : QString()));
        return false;
    };
    QSaveFile file(path);
    // Unbuffered, so a short write (disk full, size limit) shows up here
    // instead of being lost in a buffer flush that commit() would not report.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return notSaved(file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        file.commit();   // discards the temporary file, keeps the old one
        return notSaved(why);
    }
    if (!file.commit()) return notSaved(file.errorString());
    return true;
}

}  // namespace station_xml
