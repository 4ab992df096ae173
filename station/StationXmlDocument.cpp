#include "StationXmlDocument.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <clocale>
#include <string>

#include "FileProblems.h"

namespace station_xml {

namespace {

class StringWriter : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
    std::string text;
};

QString tooLarge(const QString& path) {
    return QStringLiteral("%1 is larger than %2 MiB: not read as a station file").arg(path).arg(kMaxFileBytes >> 20);
}

// Reads at most kMaxFileBytes + 1 bytes, whatever the file claims its size
// is (pipes and device files report none).
bool readBounded(const QString& path, QByteArray& data) {
    if (!regularFileOrNothingAt(path)) return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    // Swapped for a FIFO or device since the check: not read either.
    if (file.isSequential()) return false;
    if (file.size() > kMaxFileBytes) {
        reportFileProblem(tooLarge(path));
        return false;
    }
    data.clear();
    char chunk[64 * 1024];
    for (;;) {
        const qint64 got = file.read(chunk, sizeof chunk);
        if (got < 0) return false;
        if (got == 0) break;
        if (data.size() + got > kMaxFileBytes) {
            reportFileProblem(tooLarge(path));
            return false;
        }
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

bool loadDocument(const QString& path, pugi::xml_document& doc) {
    doc.reset();
    if (path.isEmpty()) return false;
    QByteArray data;
    if (!readBounded(path, data)) return false;
    const pugi::xml_parse_result result =
        doc.load_buffer(data.constData(), static_cast<size_t>(data.size()), pugi::parse_default, pugi::encoding_auto);
    if (!result || !nestedAtMost(doc, kMaxNesting)) {
        doc.reset();
        return false;
    }
    return true;
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
    QSaveFile file(path);
    // Unbuffered, so a short write (disk full, size limit) shows up here
    // instead of being lost in a buffer flush that commit() would not report.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        file.commit();   // discards the temporary file, keeps the old one
        return false;
    }
    return file.commit();
}

}  // namespace station_xml
