#include "PortNames.h"

#include "PortPosix.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace korvane {

const char NomsPorts[NOMBRE_PORTS][15] = {"\\.\\COM1", "\\.\\COM2", "\\.\\COM3", "\\.\\COM4",
                                          "\\.\\COM5", "\\.\\COM6", "\\.\\COM7", "\\.\\COM8",
                                          "\\.\\COM9", "\\.\\COM10"};

namespace {

// The port number of "\.\COMn" for n = 1..10 (no leading zero), or 0 for any other name.
int numeroPort(const char* nom)
{
    static constexpr char kPrefixe[] = "\\.\\COM";
    const std::size_t longueur = sizeof kPrefixe - 1;
    if (std::strncmp(nom, kPrefixe, longueur) != 0) {
        return 0;
    }
    const char* chiffres = nom + longueur;
    if (*chiffres < '1' || *chiffres > '9') {
        return 0;
    }
    int n = 0;
    for (const char* c = chiffres; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || c - chiffres >= 2) {
            return 0;
        }
        n = n * 10 + (*c - '0');
    }
    return n <= NOMBRE_PORTS ? n : 0;
}

} // namespace

std::string cheminPort(const char* nom)
{
    if (nom == nullptr) {
        return {};
    }
    const int n = numeroPort(nom);
    if (n == 0) {
        return nom;
    }
    const std::string variable = "KORVANE_COM" + std::to_string(n);
    const char* valeur = std::getenv(variable.c_str());
    if (valeur != nullptr && *valeur != '\0') {
        return valeur;
    }
    return "/dev/ttyS" + std::to_string(n - 1);
}

ProbePort sonderPort(const char* nom)
{
    const int fd = PortPosix::openExclusive(cheminPort(nom));
    if (fd >= 0) {
        PortPosix::closeExclusive(fd);
        return ProbePort::Ouvert;
    }
    switch (errno) {
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
    case EIO: // a serial port the driver knows of but with no hardware behind it
        return ProbePort::Inexistant;
    default: // EBUSY (held by another program), EACCES, EPERM, and anything else
        return ProbePort::Indisponible;
    }
}

} // namespace korvane
