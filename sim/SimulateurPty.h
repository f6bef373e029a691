#pragma once

#include "sim/Appareil.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace korvane::sim {

struct OptionsPty {
    // A symbolic link to the line's slave, made by ouvrir() (replacing an old link) and
    // removed by arreter() or the destructor. Empty: no link.
    std::string lien;
    // Pace the line like a real one: each byte takes 11 bits at 9600 baud (about 1.146 ms)
    // to cross it, one after the other, in both directions.
    bool cadence = false;
};

inline constexpr long DUREE_OCTET_NS = 11L * 1'000'000'000L / 9600; // 1,145,833 ns

// Runs an Appareil on a pseudo-terminal: the loader client opens the slave as it would open
// a serial port; the simulator reads the master, feeds the device and writes its answers.
// A hang-up fault closes the master for good (the client sees the line drop).
//
// Use: ouvrir(), then either demarrer() (a thread of its own, for tests) or executer() (the
// calling thread, until demanderArret()); arreter() ends the loop, joins, closes the line and
// removes the link. instantane() may be called at any time from any thread.
class SimulateurPty {
public:
    explicit SimulateurPty(Configuration configuration = {}, OptionsPty options = {});
    ~SimulateurPty();
    SimulateurPty(const SimulateurPty&) = delete;
    SimulateurPty& operator=(const SimulateurPty&) = delete;

    // Opens the pseudo-terminal, sets the slave raw (8 bits, even parity, 9600 baud) and
    // makes the link. False with a message on failure.
    bool ouvrir(std::string* erreur = nullptr);
    const std::string& cheminEsclave() const { return m_esclave; }
    const std::string& lien() const { return m_options.lien; }

    bool demarrer(std::string* erreur = nullptr);
    void executer();
    // Async-signal-safe: may be called from a signal handler.
    void demanderArret() noexcept;
    void arreter();

    Appareil instantane() const;
    bool raccroche() const { return m_raccroche.load(); }

private:
    void boucle();
    void fermerLigne();

    mutable std::mutex m_mutex; // guards m_appareil
    Appareil m_appareil;
    OptionsPty m_options;
    std::string m_esclave;
    int m_maitre = -1;
    int m_esclaveTenu = -1; // our own slave descriptor, so the master never sees a hang-up
    int m_arret[2] = {-1, -1};
    bool m_lienFait = false;
    std::atomic<bool> m_raccroche{false};
    std::thread m_fil;
};

} // namespace korvane::sim
