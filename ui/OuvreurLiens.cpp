#include "ui/OuvreurLiens.h"

#include <QProcess>
#include <QStringList>

namespace korvane {

void OuvreurLiensBureau::ouvrir(const QString& url)
{
    // Detached: the dialog never waits for the browser or the mail program, and whether
    // one starts at all is not our concern.
    QProcess::startDetached(QStringLiteral("xdg-open"), QStringList{url});
}

} // namespace korvane
