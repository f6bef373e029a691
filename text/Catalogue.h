#pragma once

#include <cstdint>
#include <string>

namespace korvane {

// Keys of the main catalogue, in its row order (0..47).
enum CleTexte : int {
    TxtTitreFenetre,
    TxtQuitter,
    TxtPrecedent,
    TxtSuivant,
    TxtConnexion,
    TxtAPropos,
    TxtChoixPortSerie,
    TxtEtapeSur,
    TxtTitreAccueil,
    TxtVersionMiseAJour,
    TxtAccueil1,
    TxtAccueil2,
    TxtAccueil3,
    TxtAccueil4,
    TxtTitrePreparation,
    TxtBrancherCordonPile,
    TxtTitreConnexionPC,
    TxtBrancherCordonPC,
    TxtTitreChoixPort,
    TxtSelectionPort,
    TxtTitreLancement,
    TxtLancement1,
    TxtLancement2,
    TxtLancement3,
    TxtLancement4,
    TxtTitreAttente,
    TxtMettreEnMarche,
    TxtTempsRestant,
    TxtAnnuler,
    TxtTitreVerification,
    TxtTypeCorrect,
    TxtNumeroSerie,
    TxtVersionAcceptee,
    TxtPreparationTransmission,
    TxtTitreProgrammation,
    TxtAvancement,
    TxtTransmission,
    TxtTitreReussite,
    TxtOui,
    TxtNon,
    TxtAutreAppareil,
    TxtEchecConnexion,
    TxtPasUnKorvane,
    TxtVersionIncompatible,
    TxtNumeroSerieInvalide,
    TxtDejaAJour,
    TxtPlusRecente,
    TxtProblemeTransmission,
    NOMBRE_TEXTES
};

// Keys of the About catalogue.
enum CleAPropos : int {
    TxtAProposTitre,
    TxtAProposOk,
    TxtAProposMarque,
    TxtAProposAdresse,
    TxtAProposCodeVille,
    TxtAProposPays,
    TxtAProposTelephone,
    TxtAProposTelecopie,
    TxtAProposSite,
    TxtAProposMel,
    NOMBRE_TEXTES_APROPOS
};

inline constexpr int NOMBRE_LANGUES = 2; // 0 French, 1 English

// The constant text of a cell, in UTF-8. An empty cell is "", never a fallback.
const char* Texte(CleTexte cle, int langue);
const char* TexteAPropos(CleAPropos cle, int langue);

// Link targets of the About dialog (the same in both languages).
extern const char* const UrlSite;
extern const char* const UrlMel; // "mailto: " followed by the support address

// The five format keys, filled with C printf conventions whatever the process locale
// (the decimal point is always '.').
std::string FormaterEtapeSur(int langue, int etape, int total);    // TxtEtapeSur
std::string FormaterVersion(int langue, int majeure, int mineure); // TxtVersionMiseAJour
std::string FormaterTempsRestant(int langue, double secondes);     // TxtTempsRestant
std::string FormaterNumeroSerie(int langue, std::uint32_t numero); // TxtNumeroSerie
std::string FormaterAvancement(int langue, double pourcentage);    // TxtAvancement

} // namespace korvane
