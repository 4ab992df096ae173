#pragma once
// The whole network in the report: how much of it is left against the
// operator's plan, where the migration has split the mesh, the picture of
// the network, and the lists with each station's name and place from the
// plan. The page's section, the text summary's lines and the CSV's columns.
#include <QByteArray>
#include <QList>
#include <QStringList>

struct MigrationReport;
struct ReportStation;

// The section's style, for the page's head.
extern const char* const kNetworkStyle;
QString networkSectionHtml(const MigrationReport& report);
QStringList networkTextLines(const MigrationReport& report);

// The CSV's columns after the ledger's: the station's last known place,
// whether the plan has it (empty without a plan), and its name and place
// from the plan.
inline constexpr const char* kNetworkCsvColumns = "parent,attached,link,signal,plan,name,place";
void appendNetworkCsvFields(QList<QByteArray>& fields, const MigrationReport& report, const ReportStation& station);
