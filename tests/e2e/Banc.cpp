#include "Banc.h"

#include "image/Image.h"
#include "loader/Classek27_v2.h"
#include "text/Catalogue.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace korvane::e2e {

QString T(CleTexte cle)
{
    return QString::fromUtf8(Texte(cle, 0));
}

const std::map<std::uint16_t, std::uint16_t>& motsDeLImage()
{
    static const auto mots = [] {
        std::map<std::uint16_t, std::uint16_t> m;
        for (int i = 0; ImageMiseAJour[i][0] != '\0'; ++i) {
            const Enregistrement e = ImageMiseAJour[i];
            if (ClasserEnregistrement(e) != ClasseEnregistrement::MemoireProgramme)
                continue;
            for (int k = 0; k < NombreMots(e); ++k)
                m[static_cast<std::uint16_t>(AdresseMot(e) + k)] =
                    static_cast<std::uint16_t>(MotDonnee(e, k));
        }
        return m;
    }();
    return mots;
}

::testing::AssertionResult memoireConforme(const sim::Appareil& appareil)
{
    const auto& mots = motsDeLImage();
    if (mots.size() != 5960)
        return ::testing::AssertionFailure() << "the image holds " << mots.size() << " words";
    int differences = 0;
    std::string premieres;
    for (std::size_t adresse = 0; adresse < sim::TAILLE_PROGRAMME; ++adresse) {
        const auto it = mots.find(static_cast<std::uint16_t>(adresse));
        const bool attendu = it != mots.end();
        if (appareil.motEcrit(adresse) != attendu ||
            (attendu && appareil.mot(adresse) != it->second)) {
            if (++differences <= 5)
                premieres += " " + std::to_string(adresse);
        }
    }
    if (differences != 0)
        return ::testing::AssertionFailure()
               << differences << " words differ from the image, first at" << premieres;

    // The version goes in last: 126 then 127, after every word of the image.
    const auto& journal = appareil.journal();
    if (journal.size() < 2 ||
        journal[journal.size() - 2] !=
            sim::Ecriture{sim::Ecriture::Genre::Eeprom, EEPROM_VERSION, 16} ||
        journal.back() != sim::Ecriture{sim::Ecriture::Genre::Eeprom, EEPROM_VERSION + 1, 3})
        return ::testing::AssertionFailure() << "the version 16.3 is not the last thing written";
    if (appareil.eeprom(EEPROM_VERSION) != 16 || appareil.eeprom(EEPROM_VERSION + 1) != 3)
        return ::testing::AssertionFailure()
               << "EEPROM 126/127 hold " << int(appareil.eeprom(EEPROM_VERSION)) << "."
               << int(appareil.eeprom(EEPROM_VERSION + 1));
    // The last update wrote every word of the image before the version.
    std::map<std::uint16_t, std::uint16_t> derniers;
    for (std::size_t i = journal.size() - 2; i-- > 0 && derniers.size() < mots.size();) {
        if (journal[i].genre != sim::Ecriture::Genre::Mot)
            break;
        derniers.emplace(journal[i].adresse, journal[i].valeur);
    }
    if (derniers != mots)
        return ::testing::AssertionFailure()
               << "the writes before the version are not the image's words";
    return ::testing::AssertionSuccess();
}

bool attendreAppareil(const sim::SimulateurPty& simulateur,
                      const std::function<bool(const sim::Appareil&)>& condition,
                      std::chrono::milliseconds limite)
{
    const auto fin = Horloge::now() + limite;
    while (!condition(simulateur.instantane())) {
        if (Horloge::now() >= fin)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

BoitesMessage::Reponse BoitesScriptees::montrer(Type type, const QString& texte, Boutons boutons)
{
    appels.push_back({type, texte, boutons, fenetre ? fenetre->etat().NumeroEtape : -1});
    if (pendant)
        pendant();
    if (reponses.empty())
        return boutons == Boutons::Ok ? Reponse::Ok : Reponse::Non;
    const Reponse r = reponses.front();
    reponses.pop_front();
    return r;
}

DossierTemporaire::DossierTemporaire()
{
    std::string modele = (std::filesystem::temp_directory_path() / "korvane-e2e-XXXXXX").string();
    if (::mkdtemp(modele.data()) == nullptr)
        throw std::runtime_error("mkdtemp");
    m_chemin = modele;
}

DossierTemporaire::~DossierTemporaire()
{
    std::error_code ignore;
    std::filesystem::remove_all(m_chemin, ignore);
}

void brancherCom1(const std::string& lien)
{
    ::setenv("KORVANE_COM1", lien.c_str(), 1);
    for (const char* n : {"KORVANE_COM2", "KORVANE_COM3", "KORVANE_COM4"})
        ::setenv(n, "/nonexistent/korvane-e2e-port", 1);
}

Pilote::Pilote(BoitesScriptees& boites, double diviseur, SerialPort* port)
    : m_fenetre(std::make_unique<TFormMjKorvane>(nullptr, port, &boites))
{
    boites.fenetre = m_fenetre.get();
    m_fenetre->definirEchelleMinuterie(diviseur);
    m_fenetre->installEventFilter(this);
    m_fenetre->show();
}

Pilote::~Pilote()
{
    // The window first: its loader client closes the port while the device is still there.
    m_fenetre.reset();
}

QString Pilote::texte(const char* nom) const
{
    QWidget* w = controle(nom);
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* b = qobject_cast<QPushButton*>(w))
        return b->text();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    return QStringLiteral("<no control %1>").arg(QString::fromLatin1(nom));
}

bool Pilote::visible(const char* nom) const
{
    QWidget* w = controle(nom);
    return w != nullptr && w->isVisibleTo(m_fenetre.get());
}

::testing::AssertionResult Pilote::cliquer(const char* nom)
{
    auto* b = controle<QPushButton>(nom);
    if (b == nullptr)
        return ::testing::AssertionFailure() << "no button " << nom;
    if (!b->isVisibleTo(m_fenetre.get()) || !b->isEnabled())
        return ::testing::AssertionFailure()
               << nom << " cannot be clicked at step " << etape() << " ("
               << (b->isEnabled() ? "hidden" : "disabled") << ")";
    QTest::mouseClick(b, Qt::LeftButton);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Pilote::allerJusquaConnexion()
{
    while (etape() < 5) {
        const int avant = etape();
        if (auto r = cliquer("ButtonSuivant"); !r)
            return r;
        if (etape() != avant + 1)
            return ::testing::AssertionFailure()
                   << "Next at step " << avant << " led to " << etape();
    }
    if (texte("ButtonSuivant") != T(TxtConnexion))
        return ::testing::AssertionFailure() << "step 5 has no Connect button";
    return cliquer("ButtonSuivant");
}

bool Pilote::attendre(const std::function<bool()>& condition, std::chrono::milliseconds limite)
{
    if (condition())
        return true;
    // A plain event loop: the engine's timer keeps its own pace, nothing sleeps in between.
    QEventLoop boucle;
    QTimer verification;
    verification.setInterval(2);
    QObject::connect(&verification, &QTimer::timeout, &boucle, [&] {
        if (condition())
            boucle.quit();
    });
    QTimer::singleShot(limite, &boucle, &QEventLoop::quit);
    verification.start();
    boucle.exec();
    return condition();
}

bool Pilote::attendreEtape(int cible, std::chrono::milliseconds limite)
{
    return attendre([&] { return etape() == cible || !m_fenetre->isVisible(); }, limite) &&
           etape() == cible;
}

std::optional<Horloge::time_point> Pilote::sortieDe(int etape) const
{
    for (auto it = m_notifications.rbegin(); it != m_notifications.rend(); ++it)
        if (it->avant == etape && it->apres == etape + 1)
            return it->quand;
    return std::nullopt;
}

bool Pilote::eventFilter(QObject* objet, QEvent* evenement)
{
    if (objet != m_fenetre.get() || evenement->type() != TFormMjKorvane::typeNotification())
        return false;
    // Handled here, through the window's own dispatch, to see the step on both sides of it.
    const int avant = etape();
    const auto quand = Horloge::now();
    static_cast<QObject*>(m_fenetre.get())->event(evenement);
    m_notifications.push_back({avant, etape(), quand});
    return true;
}

void BancSimule::demarrer(sim::Configuration config, bool cadence, double diviseur)
{
    m_sim = std::make_unique<sim::SimulateurPty>(
        std::move(config), sim::OptionsPty{m_dossier.chemin("ttyK27"), cadence});
    std::string erreur;
    ASSERT_TRUE(m_sim->demarrer(&erreur)) << erreur;
    brancherCom1(m_sim->lien());
    m_pilote = std::make_unique<Pilote>(m_boites, diviseur);
    ASSERT_TRUE(m_pilote->controle<QRadioButton>("RadioCOM1")->isChecked())
        << "the port probe did not find the simulated line";
}

void BancSimule::TearDown()
{
    m_pilote.reset();
    if (m_sim)
        m_sim->arreter();
}

} // namespace korvane::e2e
