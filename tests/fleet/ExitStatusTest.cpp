// rechannel-cli's exit statuses are named once (ExitStatus.h); the table in
// the command-line reference (docs/cli.md) documents each of them, and
// nothing else, in the same order.
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <gtest/gtest.h>

#include <vector>

#include "ExitStatus.h"

namespace {

// The first column of docs/cli.md's "| exit status | meaning |" table.
std::vector<int> documentedExitStatuses() {
    QFile reference(QStringLiteral(RECHANNEL_CLI_REFERENCE));
    if (!reference.open(QIODevice::ReadOnly)) return {};
    const QStringList lines = QString::fromUtf8(reference.readAll()).split(QLatin1Char('\n'));
    const int header = static_cast<int>(lines.indexOf(QStringLiteral("| exit status | meaning |")));
    std::vector<int> statuses;
    if (header < 0) return statuses;
    static const QRegularExpression row(QStringLiteral("^\\| (\\d+) \\|"));
    for (int i = header + 2; i < lines.size() && lines[i].startsWith(QLatin1Char('|')); ++i) {
        const QRegularExpressionMatch match = row.match(lines[i]);
        statuses.push_back(match.hasMatch() ? match.captured(1).toInt() : -1);
    }
    return statuses;
}

TEST(ExitStatus, CliReferenceTableListsEveryExitStatusInOrderAndEveryOutcomeHasOne) {
    std::vector<int> named;
    for (const ExitStatusMeaning& m : kExitStatusMeanings) named.push_back(m.status);
    EXPECT_EQ(documentedExitStatuses(), named) << "docs/cli.md's exit-status table";
    for (const RunOutcomeRow& row : kRunOutcomes) {
        const int status = exitStatusOf(row.outcome);
        bool listed = false;
        for (int n : named) listed = listed || n == status;
        EXPECT_TRUE(listed) << row.name << " ends with an unlisted status " << status;
    }
}

}  // namespace
