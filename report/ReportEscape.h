#pragma once
// Text that comes from elsewhere — another laptop's ledger, the operator's
// plan — made safe for where the report puts it: only ever shown as text,
// never run as markup, a formula or a terminal's escape sequence.
#include <QByteArray>
#include <QString>

namespace report_escape {

// For HTML (and the SVG inside it): &, <, >, " and ' as entities.
QString esc(const QString& text);
// A CSV field (RFC 4180); one that a spreadsheet would run as a formula (it
// begins with =, +, -, @, a tab or a carriage return) gets a leading
// apostrophe inside quotes, so it is shown as the text it is.
QByteArray csvText(const QString& text);
// For a terminal: control characters shown as '?'.
QString plain(QString text);

}  // namespace report_escape
