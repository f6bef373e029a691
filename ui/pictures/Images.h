#pragma once

#include <QIcon>
#include <QImage>

// The pictures built into the program, decoded on first use. Each is null only if the
// embedded data were damaged, which the tests rule out.
namespace korvane::pictures {

QImage banniere();   // the maker's logo banner, 967 x 111
QImage cablage();    // the Korvane cabled to the back of a PC, 362 x 193; device end on the left
QImage logoGroupe(); // the owning company's logo, 344 x 55
QImage icone();      // the program's icon, 32 x 32, with transparency

// The window icon of every window of the program.
QIcon iconeFenetre();

// The raw embedded files, for whoever needs the bytes (tests, the drawing tool).
QByteArray donneesBanniere();
QByteArray donneesCablage();
QByteArray donneesLogoGroupe();
QByteArray donneesIcone();

} // namespace korvane::pictures
