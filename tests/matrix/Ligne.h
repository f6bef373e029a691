#pragma once

// What every fault test needs around the tool: the simulated Korvane on a pseudo-terminal
// reached through a fixed link (so a new line can be "plugged in" under the same name), a
// serial port that times each read, and the firmware words the device must end up holding.

#include "image/Image.h"
#include "loader/Classek27_v2.h"
#include "loader/PortPosix.h"
#include "sim/SimulateurPty.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace korvane::matrice {

using Horloge = std::chrono::steady_clock;

inline double MsDepuis(Horloge::time_point debut)
{
    return std::chrono::duration<double, std::milli>(Horloge::now() - debut).count();
}

// The port the tool really uses (PortPosix), with every read and write timed on the way.
// It changes nothing: it only tells a test how long each wait lasted and how it ended.
class PortMesure : public SerialPort {
public:
    bool open(const char* nom) override
    {
        ++ouvertures;
        const bool ok = m_port.open(nom);
        if (!ok)
            erreursOuverture.push_back(m_port.lastError());
        return ok;
    }
    bool getSettings(LineSettings& s) override { return m_port.getSettings(s); }
    bool setSettings(const LineSettings& s) override { return m_port.setSettings(s); }
    bool getTimeouts(Timeouts& t) override { return m_port.getTimeouts(t); }
    bool setTimeouts(const Timeouts& t) override { return m_port.setTimeouts(t); }
    bool purge() override { return m_port.purge(); }
    bool writeByte(std::uint8_t octet) override
    {
        const auto debut = Horloge::now();
        const bool ok = m_port.writeByte(octet);
        if (!ok)
            noterEchec(MsDepuis(debut));
        return ok;
    }
    bool readByte(std::uint8_t& octet, bool& recu) override
    {
        const auto debut = Horloge::now();
        const bool ok = m_port.readByte(octet, recu);
        const double ms = MsDepuis(debut);
        if (!ok)
            noterEchec(ms);
        else if (!recu)
            lecturesMuettes.push_back(ms);
        return ok;
    }
    bool close() override { return m_port.close(); }
    std::int32_t lastError() const override { return m_port.lastError(); }
    std::uint32_t tickCount() override { return m_port.tickCount(); }
    void sleep(std::uint32_t ms) override { m_port.sleep(ms); }

    void oublier()
    {
        lecturesMuettes.clear();
        echecs = 0;
        plusLongEchecMs = 0;
        erreursOuverture.clear();
        ouvertures = 0;
    }

    std::vector<double> lecturesMuettes; // reads that ended with nothing, in ms each
    int echecs = 0;                      // reads and writes that failed (a line gone)
    double plusLongEchecMs = 0;          // the longest of those
    int ouvertures = 0;
    std::vector<std::int32_t> erreursOuverture;

private:
    void noterEchec(double ms)
    {
        ++echecs;
        plusLongEchecMs = std::max(plusLongEchecMs, ms);
    }

    PortPosix m_port;
};

// The cable between the PC and the simulated device. The tool's COM1 is a link in a private
// directory; brancher() starts a device on a new pseudo-terminal behind that link, as if a
// cable had been plugged back in. A device that hung up stays readable in `precedent`.
class Ligne {
public:
    Ligne()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string modele = std::string(tmp && *tmp ? tmp : "/tmp") + "/korvane-matrice-XXXXXX";
        std::vector<char> nom(modele.begin(), modele.end());
        nom.push_back('\0');
        if (::mkdtemp(nom.data()) != nullptr)
            m_dossier = nom.data();
        lien = m_dossier + "/ttyKorvane";
    }
    ~Ligne()
    {
        if (courant)
            courant->arreter();
        if (precedent)
            precedent->arreter();
        ::unlink(lien.c_str());
        if (!m_dossier.empty())
            ::rmdir(m_dossier.c_str());
    }
    Ligne(const Ligne&) = delete;
    Ligne& operator=(const Ligne&) = delete;

    bool prete() const { return !m_dossier.empty(); }

    // A device with this configuration on a fresh line behind the link.
    bool brancher(const sim::Configuration& configuration, std::string* erreur = nullptr)
    {
        auto nouveau = std::make_unique<sim::SimulateurPty>(configuration, sim::OptionsPty{lien});
        if (!nouveau->demarrer(erreur))
            return false;
        if (precedent)
            precedent->arreter();
        precedent = std::move(courant);
        courant = std::move(nouveau);
        return true;
    }

    // The tool's four ports: COM1 is this line, the others do not exist.
    void devenirCom1() const
    {
        ::setenv("KORVANE_COM1", lien.c_str(), 1);
        for (int n = 2; n <= 4; ++n)
            ::setenv(("KORVANE_COM" + std::to_string(n)).c_str(), "/nonexistent/korvane-port", 1);
    }

    sim::Appareil appareil() const { return courant->instantane(); }

    std::string lien;
    std::unique_ptr<sim::SimulateurPty> courant;
    std::unique_ptr<sim::SimulateurPty> precedent;

private:
    std::string m_dossier;
};

// The program words the built-in image asks for, decoded on their own.
inline const std::map<std::uint32_t, std::uint16_t>& MotsDeLImage()
{
    static const auto mots = [] {
        std::map<std::uint32_t, std::uint16_t> m;
        for (int i = 0; ImageMiseAJour[i][0] != '\0'; ++i) {
            const Enregistrement e = ImageMiseAJour[i];
            if (ClasserEnregistrement(e) != ClasseEnregistrement::MemoireProgramme)
                continue;
            for (int k = 0; k < NombreMots(e); ++k)
                m[static_cast<std::uint32_t>(AdresseMot(e) + k)] =
                    static_cast<std::uint16_t>(MotDonnee(e, k));
        }
        return m;
    }();
    return mots;
}

// "" when the device holds every word of the image, no other word, and version 16.3;
// otherwise what differs first.
inline std::string EcartAvecLImage(const sim::Appareil& appareil)
{
    const auto& mots = MotsDeLImage();
    for (std::uint32_t a = 0; a < sim::TAILLE_PROGRAMME; ++a) {
        const auto it = mots.find(a);
        const bool attendu = it != mots.end();
        if (appareil.motEcrit(a) != attendu)
            return "word " + std::to_string(a) + (attendu ? " not written" : " written");
        if (attendu && appareil.mot(a) != it->second)
            return "word " + std::to_string(a) + " holds " + std::to_string(appareil.mot(a));
    }
    if (appareil.eeprom(EEPROM_VERSION) != 16 || appareil.eeprom(EEPROM_VERSION + 1) != 3)
        return "version " + std::to_string(appareil.eeprom(EEPROM_VERSION)) + "." +
               std::to_string(appareil.eeprom(EEPROM_VERSION + 1));
    return "";
}

} // namespace korvane::matrice
