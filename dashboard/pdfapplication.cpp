#include "dashboard/pdfapplication.h"

#include <QProcess>

std::optional<QString> desktopPdfApplication()
{
    QProcess query;
    // An argument vector, no shell.
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"),
                 QStringLiteral("application/pdf")});
    if (!query.waitForStarted(2000))
        return std::nullopt;
    // The query reads a few small files; a desktop that takes longer is not
    // worth keeping the window frozen for.
    if (!query.waitForFinished(3000)) {
        query.kill();
        query.waitForFinished(1000);
        return std::nullopt;
    }
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
        return std::nullopt;
    return QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
}
