#pragma once

#include <string>
#include <thread>

namespace korvane::e2e {

// The PC's serial port as a pseudo-terminal, with a cable from it that can be unplugged from
// one simulated Korvane and plugged into the next, as a user does between two units. The PC
// side keeps its line all along: the tool's open port never notices the change of device.
// With nothing plugged in, what the PC sends is lost, as on a loose cable.
class Cordon {
public:
    Cordon() = default;
    ~Cordon();
    Cordon(const Cordon&) = delete;
    Cordon& operator=(const Cordon&) = delete;

    // Opens the PC's line and makes `lien` a symbolic link to it. False on failure.
    bool ouvrir(const std::string& lien);
    const std::string& lien() const { return m_lien; }

    // Plugs the far end into the device line at `cheminAppareil` (a simulator's slave).
    bool brancher(const std::string& cheminAppareil);
    void debrancher();

private:
    void relayer();
    void arreterRelais();

    std::string m_lien;
    int m_maitre = -1;      // the PC's line, our side
    int m_esclaveTenu = -1; // held so that the master never sees a hang-up between clients
    int m_appareil = -1;    // the device's line, as its client
    int m_arret[2] = {-1, -1};
    std::thread m_fil;
};

} // namespace korvane::e2e
