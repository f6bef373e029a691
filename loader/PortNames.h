#pragma once

#include <string>

namespace korvane {

// Port names as the loader knows them: "\.\COM1" .. "\.\COM10" (one leading backslash).
inline constexpr int NOMBRE_PORTS = 10;
extern const char NomsPorts[NOMBRE_PORTS][15];

// The device path of a port name: "\.\COMn" maps to $KORVANE_COMn when it is set and not
// empty, otherwise to /dev/ttyS<n-1>. Any other name is taken as a path as it stands.
std::string cheminPort(const char* nom);

// What a probe of a port found (the port is closed again at once when it opened).
enum class ProbePort { Ouvert, Inexistant, Indisponible };
ProbePort sonderPort(const char* nom);

} // namespace korvane
