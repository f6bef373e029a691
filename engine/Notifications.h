#pragma once

#include <cstdint>

namespace korvane {

// Notifications the engine posts to the main window's own queue.
inline constexpr int WM_USER = 0x0400;
inline constexpr int WM_ERREUR_TRANSMISSION = WM_USER + 1; // wParam: the loader status
inline constexpr int WM_ECHEC_CONNEXION = WM_USER + 5;     // wParam: 0
inline constexpr int WM_ETAPE_SUIVANTE = WM_USER + 6;      // wParam: 0
inline constexpr int WM_APPAREIL_REFUSE = WM_USER + 7;     // wParam: refusal reason

// Refusal reasons carried by WM_APPAREIL_REFUSE.
inline constexpr std::intptr_t REFUS_TYPE = 0;
inline constexpr std::intptr_t REFUS_NUMERO_SERIE = 1;
inline constexpr std::intptr_t REFUS_VERSION = 2;
inline constexpr std::intptr_t REFUS_MODE = 3;

} // namespace korvane
