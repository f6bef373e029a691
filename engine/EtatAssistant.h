#pragma once

#include "BarreProgression.h"
#include "image/Image.h"

#include <cstdint>

namespace korvane {

inline constexpr int NOMBRE_ETAPES = 9;
inline constexpr int VERSION_CIBLE_MAJEURE = 16;
inline constexpr int VERSION_CIBLE_MINEURE = 3;

// The wizard's state shared by the engine and the window; zero at the start, as the window
// object it comes from. The window owns one, and so does the headless updater.
struct EtatAssistant {
    std::int32_t IndexLangue = 0;
    std::int32_t NumeroEtape = 0;
    std::uint32_t EtapeVerification = 0;
    std::int32_t LargeurImageConnect = 0;
    std::int32_t IndexPort = 0;
    std::uint32_t NumeroSerie = 0;
    std::uint32_t ModeAppareil = 0;
    std::uint32_t VersionMajeure = 0;
    std::uint32_t VersionMineure = 0;
    TableEnregistrements_t TableEnregistrements = {};
    std::int32_t NombreEnregistrements = 0; // how many entries ChargerEnregistrements listed
    std::int32_t IndexEnregistrement = 0;
    BarreProgression Barre; // ProgressBarProgrammation's model
};

} // namespace korvane
