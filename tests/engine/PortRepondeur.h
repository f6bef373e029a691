#pragma once

#include "loader/SerialPort.h"

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace korvane::test {

// A serial port with a small boot loader behind it, answering at once on a virtual clock.
// It knows just enough of the protocol to let the real loader client drive the engine's
// steps: handshake, reset, the read and write commands, programming mode. Faults are
// chosen per command byte and occurrence, or per program word address.
class PortRepondeur : public SerialPort {
public:
    PortRepondeur();

    // The device.
    bool ouvrable = true;      // false: open() fails with ENOENT
    int handshakeReponduA = 1; // the n-th 0x80 is answered 0x81 (0: never)
    std::string type = "K27";
    std::uint8_t mode = 3;
    std::array<std::uint8_t, 256> eeprom{};
    void definirNumeroSerie(std::uint32_t n);
    void definirVersion(std::uint8_t majeure, std::uint8_t mineure);

    // Faults. A silent command gets no answer at all; a refused one gets 0x00 where 0x84 is
    // due. `occurrence` counts that command byte from 1 since the port was made; 0 means
    // every time.
    enum class Panne { Silence, Refus };
    void ajouterPanne(std::uint8_t commande, int occurrence, Panne panne);
    std::set<std::uint32_t> motsRefuses; // program word addresses answered 0x00

    // What the device received and kept.
    struct Ecriture {
        char zone; // 'P' program word, 'E' EEPROM byte
        std::uint32_t adresse;
        std::uint32_t valeur;
        bool operator==(const Ecriture&) const = default;
    };
    std::vector<Ecriture> ecritures;                  // accepted writes, in order
    std::map<std::uint32_t, std::uint32_t> programme; // word address -> word
    std::vector<std::uint8_t> recus;                  // every byte the PC wrote
    int ouvertures = 0;
    bool ouvert = false;
    bool connecte = false;
    int occurrences(std::uint8_t commande) const;

    // SerialPort
    bool open(const char* name) override;
    bool getSettings(LineSettings& out) override;
    bool setSettings(const LineSettings& in) override;
    bool getTimeouts(Timeouts& out) override;
    bool setTimeouts(const Timeouts& in) override;
    bool purge() override;
    bool writeByte(std::uint8_t byte) override;
    bool readByte(std::uint8_t& byte, bool& received) override;
    bool close() override;
    std::int32_t lastError() const override { return m_erreur; }
    // Each reading moves the clock on by 1 ms, so that a wait spinning on it ends.
    std::uint32_t tickCount() override { return ++m_horloge; }
    void sleep(std::uint32_t ms) override { m_horloge += ms; }

private:
    void commande(std::uint8_t c);
    void executer();
    void envoyerOctets(const std::vector<std::uint8_t>& octets);
    void repondre(std::uint8_t octet) { m_sortie.push_back(octet); }
    bool enPanne(Panne& panne) const;
    std::uint8_t argument(int i) const;

    std::deque<std::uint8_t> m_sortie;   // bytes for the PC to read
    std::deque<std::uint8_t> m_aEnvoyer; // characters waiting for the PC's acknowledgement
    int m_acquitsAttendus = 0;
    std::uint8_t m_commande = 0;
    std::size_t m_argumentsAttendus = 0;
    std::vector<std::uint8_t> m_arguments;
    int m_handshakes = 0;
    std::map<std::uint8_t, int> m_occurrences;
    std::map<std::pair<std::uint8_t, int>, Panne> m_pannes;
    LineSettings m_reglages;
    Timeouts m_delais;
    std::uint32_t m_horloge = 1000;
    std::int32_t m_erreur = 0;
};

} // namespace korvane::test
