#pragma once

#include <QString>

namespace korvane {

// Hands a link (a web address, or "mailto: " and an address) to whatever the desktop
// opens links with. The text is passed on unchanged; nobody waits for or looks at the
// outcome.
class OuvreurLiens {
public:
    virtual ~OuvreurLiens() = default;
    virtual void ouvrir(const QString& url) = 0;
};

// The desktop's opener: starts `xdg-open <url>` detached, the text as its single argument.
class OuvreurLiensBureau final : public OuvreurLiens {
public:
    void ouvrir(const QString& url) override;
};

} // namespace korvane
