#include "text/Catalogue.h"

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <iterator>
#include <locale.h>
#include <vector>

namespace korvane {

namespace {

// Every text the tool shows, French then English, held as UTF-8. Blanks, line feeds,
// capitals and spelling are the tool's own and are shown exactly as they stand here.
constexpr const char* const textes[][NOMBRE_LANGUES] = {
    /* TxtTitreFenetre */ {"Mise à jour du Korvane", "Update of Korvane "},
    /* TxtQuitter */ {"&Quitter", "E&xit"},
    /* TxtPrecedent */ {"&Précédent", "&Before"},
    /* TxtSuivant */ {"&Suivant", "&Next"},
    /* TxtConnexion */ {"&Connexion", "&Connection"},
    /* TxtAPropos */ {"&A propos", "&About"},
    /* TxtChoixPortSerie */ {"Choix du port série", "Choice of the serial port"},
    /* TxtEtapeSur */ {"Etape n° %i sur %i", "Step n° %i of %i"},
    /* TxtTitreAccueil */ {"Mise à jour de votre Korvane", "Update foreword"},
    /* TxtVersionMiseAJour */ {"Mise à jour version %i.%i", ""},
    /* TxtAccueil1 */ {"Bonjour,", ""},
    /* TxtAccueil2 */
    {"Vous allez effectuer la dernière mise à jour en date sur votre Korvane.", ""},
    /* TxtAccueil3 */
    {"Celle-ci optimise le niveau d'analyse de votre détecteur par rapport aux dernières "
     "contrefaçons.",
     ""},
    /* TxtAccueil4 */ {"Comme un antivirus, un détecteur fiable doit évoluer dans le temps.", ""},
    /* TxtTitrePreparation */
    {"Préparation du Korvane pour la mise à jour", "Preparation of Korvane for the update"},
    /* TxtBrancherCordonPile */
    {"Connecter le cordon de connexion PC et la pile sur votre Korvane",
     "To connect the serial cable and the pile to Korvane"},
    /* TxtTitreConnexionPC */
    {"Connexion du Korvane à l'ordinateur", "Connection of Korvane with the PC"},
    /* TxtBrancherCordonPC */
    {"Connecter le cordon de connexion à votre ordinateur",
     "To connect the serial cable to computer"},
    /* TxtTitreChoixPort */
    {"Choix du port de communication", "Choice of the port of communication"},
    /* TxtSelectionPort */
    {"Sélectionner le port série connecté",
     "to choose the serial port according to the connection of the cable to the computer"},
    /* TxtTitreLancement */
    {"Vérification et lancement de la mise à jour", "Checking and launching of the update "},
    /* TxtLancement1 */ {"Vérifier que le Korvane est bien connecté à votre ordinateur", ""},
    /* TxtLancement2 */ {"Vérifier que le Korvane est alimenté par sa pile", ""},
    /* TxtLancement3 */
    {"Après avoir cliqué sur le bouton <Connexion> vous avez 30 secondes pour mettre en "
     "marche l'appareil.",
     ""},
    /* TxtLancement4 */ {"Cliquer sur <Connexion> et démarrer l'appareil", ""},
    /* TxtTitreAttente */ {"Attente de la Connexion", "Attent of the Connection"},
    /* TxtMettreEnMarche */ {"Mettre en marche le Korvane", ""},
    /* TxtTempsRestant */ {"Le temps restant pour allumer votre Korvane est de %.1f s", ""},
    /* TxtAnnuler */ {"&Annuler", "&Cancel"},
    /* TxtTitreVerification */ {"Vérification de l'appareil", "Checking of the device"},
    /* TxtTypeCorrect */ {"Le type de l'appareil est le bon.", ""},
    /* TxtNumeroSerie */ {"Le numéro de série de l'appareil est le : %010lu", ""},
    /* TxtVersionAcceptee */ {"", ""},
    /* TxtPreparationTransmission */ {"Préparation pour la transmission du programme", ""},
    /* TxtTitreProgrammation */ {"Programmation du Korvane", "Programming of Korvane"},
    /* TxtAvancement */ {"Avancement de la mise à jour : %.1f %%", ""},
    /* TxtTransmission */ {"Transmission du programme au Korvane", ""},
    /* TxtTitreReussite */ {"Mise à jour réussie", "Reussi Programming"},
    /* TxtOui */ {"&Oui", ""},
    /* TxtNon */ {"&Non", ""},
    /* TxtAutreAppareil */ {"Voulez vous faire la mise à jour sur un autre korvane ?", ""},
    /* TxtEchecConnexion */
    {"Echec à la connexion :\n"
     "   - Soit le Korvane n'a pas été connecté à l'ordinateur.\n"
     "  - Soit le Korvane n'a pas été mis en marche. \n"
     "  - Soit le port série sélectionné ne correspond pas au port connecté.\n"
     "\n"
     "  Dans ce dernier cas, sélectionner un autre port série dans la liste.\n",
     ""},
    /* TxtPasUnKorvane */
    {"L'appareil n'est pas un Korvane.\n"
     "\n"
     "Voulez vous faire la mise à jour sur un autre Korvane ?",
     ""},
    /* TxtVersionIncompatible */
    {"    Cette mise à jour n'est pas pour cette version du Korvane.\n"
     "Veuillez contacter votre revendeur ou vantorel muni du numéro de série de votre "
     "Korvane.\n"
     "\n"
     "Voulez vous faire la mise à jour sur un autre Korvane ?",
     ""},
    /* TxtNumeroSerieInvalide */
    {"Le numéro de série de l'appareil n'est pas valide.\n"
     "\n"
     "Contacter notre service technique (tél. : +00 (0)000 00 00 00.\n"
     "\n"
     "Voulez-vous faire la mise à jour sur un autre Korvane ?",
     ""},
    /* TxtDejaAJour */
    {"Votre Korvane a déjà cette mise à jour.\n"
     "\n"
     "Voulez vous faire la mise à jour sur un autre Korvane ?",
     ""},
    /* TxtPlusRecente */
    {"Votre Korvane à une mise à jour plus récente.\n"
     "\n"
     "Voulez vous faire la mise à jour sur un autre Korvane ?",
     ""},
    /* TxtProblemeTransmission */
    {"Un Problème de transmission s'est produit.\n"
     "\n"
     "Pour essayer une nouvelle fois, vous devez d'abord : \n"
     "   Déconnecter puis reconnecter la pile et faire une nouvelle tentative.\n"
     "\n"
     "Voulez vous essayer de nouveau ?",
     ""},
};
static_assert(std::size(textes) == NOMBRE_TEXTES, "one row per key of the main catalogue");

// The maker's contact details. Every one of them is a placeholder: the domain is reserved
// for examples and the numbers are all zeros.
#define KORVANE_SITE "https://www.vantorel.example"
#define KORVANE_MEL "support@vantorel.example"
#define KORVANE_TEL "+00 (0)000 00 00 00"
#define KORVANE_FAX "+00 (0)000 00 00 01"

constexpr const char* const textesAPropos[][NOMBRE_LANGUES] = {
    /* TxtAProposTitre */ {"A propos de la mise à jour", "About update"},
    /* TxtAProposOk */ {"&Ok", "&Ok"},
    /* TxtAProposMarque */ {"Une marque de", ""},
    /* TxtAProposAdresse */ {"12 rue de l'Exemple", "12 rue de l'Exemple"},
    /* TxtAProposCodeVille */ {"00000 Fictiville", "00000 Fictiville"},
    /* TxtAProposPays */ {"France", "France"},
    /* TxtAProposTelephone */ {"Tél : " KORVANE_TEL, "Phone : " KORVANE_TEL},
    /* TxtAProposTelecopie */ {"Télécopie  : " KORVANE_FAX, "Fax : " KORVANE_FAX},
    /* TxtAProposSite */ {"Site : " KORVANE_SITE, "Site : " KORVANE_SITE},
    /* TxtAProposMel */ {"Mèl : " KORVANE_MEL, "Mail : " KORVANE_MEL},
};
static_assert(std::size(textesAPropos) == NOMBRE_TEXTES_APROPOS,
              "one row per key of the About catalogue");

bool langueValide(int langue)
{
    return langue >= 0 && langue < NOMBRE_LANGUES;
}

// The "C" locale, made once; formatting switches to it for the calling thread only, so a
// French desktop still gets "30.0" and not "30,0".
locale_t localeC()
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

std::string formater(const char* format, ...)
{
    if (format == nullptr || *format == '\0') {
        return {};
    }
    const locale_t c = localeC();
    const locale_t avant = c != nullptr ? uselocale(c) : nullptr;

    std::va_list args;
    va_start(args, format);
    std::va_list copie;
    va_copy(copie, args);
    char court[256];
    const int n = std::vsnprintf(court, sizeof court, format, args);
    va_end(args);

    std::string resultat;
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof court) {
        resultat.assign(court, static_cast<std::size_t>(n));
    } else if (n >= 0) {
        std::vector<char> long_(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(long_.data(), long_.size(), format, copie);
        resultat.assign(long_.data(), static_cast<std::size_t>(n));
    }
    va_end(copie);

    if (avant != nullptr) {
        uselocale(avant);
    }
    return resultat;
}

} // namespace

const char* const UrlSite = KORVANE_SITE;
const char* const UrlMel = "mailto: " KORVANE_MEL;

const char* Texte(CleTexte cle, int langue)
{
    if (cle < 0 || cle >= NOMBRE_TEXTES || !langueValide(langue)) {
        return "";
    }
    return textes[cle][langue];
}

const char* TexteAPropos(CleAPropos cle, int langue)
{
    if (cle < 0 || cle >= NOMBRE_TEXTES_APROPOS || !langueValide(langue)) {
        return "";
    }
    return textesAPropos[cle][langue];
}

std::string FormaterEtapeSur(int langue, int etape, int total)
{
    return formater(Texte(TxtEtapeSur, langue), etape, total);
}

std::string FormaterVersion(int langue, int majeure, int mineure)
{
    return formater(Texte(TxtVersionMiseAJour, langue), majeure, mineure);
}

std::string FormaterTempsRestant(int langue, double secondes)
{
    return formater(Texte(TxtTempsRestant, langue), secondes);
}

std::string FormaterNumeroSerie(int langue, std::uint32_t numero)
{
    return formater(Texte(TxtNumeroSerie, langue), static_cast<unsigned long>(numero));
}

std::string FormaterAvancement(int langue, double pourcentage)
{
    return formater(Texte(TxtAvancement, langue), pourcentage);
}

} // namespace korvane
