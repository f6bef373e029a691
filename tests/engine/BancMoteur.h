#pragma once

#include "ImageTest.h"
#include "PortRepondeur.h"
#include "VueEnregistreuse.h"
#include "engine/Moteur.h"
#include "engine/Notifications.h"
#include "loader/Classek27_v2.h"
#include "text/Catalogue.h"

#include <gtest/gtest.h>
#include <memory>

namespace korvane::test {

using Notif = VueEnregistreuse::Notification;

// The engine on the real loader client, a responding device port and a recording view.
// The wizard's part (moving NumeroEtape and calling the screens) is played by the helpers.
class BancMoteur : public ::testing::Test {
protected:
    // A small default image: two program-memory records and the end of file.
    BancMoteur()
        : image({LigneHex(4, 0x0060, 0, {0x118A, 0x120A}), LigneHex(2, 0x0064, 0, {0x28FA}),
                 FinFichier()})
    {
    }

    MoteurMiseAJour& moteur()
    {
        if (!m_moteur)
            m_moteur = std::make_unique<MoteurMiseAJour>(etat, chargeur, vue, slots);
        return *m_moteur;
    }
    void utiliserImage(const ImageTest& img) { slots = img.slots(); }

    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            moteur().TimerGestionSerieTimer();
    }

    void entrerAttente()
    {
        etat.NumeroEtape = 6;
        moteur().AfficherAttente();
    }

    // Steps 6 and 7 as the wizard runs them on WM_ETAPE_SUIVANTE.
    void entrerVerification()
    {
        entrerAttente();
        tick();
        ASSERT_EQ(vue.postees, (std::vector<Notif>{{WM_ETAPE_SUIVANTE, 0}}));
        vue.postees.clear();
        etat.NumeroEtape = 7;
        moteur().AfficherVerification();
    }

    void entrerProgrammation()
    {
        entrerVerification();
        tick(4);
        ASSERT_EQ(vue.postees, (std::vector<Notif>{{WM_ETAPE_SUIVANTE, 0}}));
        vue.postees.clear();
        etat.NumeroEtape = 8;
        moteur().AfficherProgrammation();
    }

    std::string fr(CleTexte cle) const { return Texte(cle, 0); }

    ImageTest image;
    const char (*slots)[LARGEUR_LIGNE] = image.slots();
    PortRepondeur port;
    CK27V2 chargeur{port};
    VueEnregistreuse vue;
    EtatAssistant etat;

private:
    std::unique_ptr<MoteurMiseAJour> m_moteur;
};

} // namespace korvane::test
