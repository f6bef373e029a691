#include "ui/Polices.h"

#include <QFont>
#include <QStringList>

namespace korvane {

void installerPolices()
{
    static const bool fait = [] {
        QFont::insertSubstitutions(
            QStringLiteral("MS Sans Serif"),
            {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
        return true;
    }();
    (void)fait;
}

} // namespace korvane
