#pragma once

#include "loader/SerialPort.h"
#include "sim/Appareil.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace korvane::sim {

// A serial port with a simulated Korvane at the other end and a virtual clock, so that whole
// updates run with the real loader client in milliseconds. Bytes written go straight to the
// device; what it answers is readable at once. A read with nothing pending advances the clock
// by the read time limit (readTotalMultiplier + readTotalConstant, 1100 ms unless set
// otherwise) and returns no byte, as a silent line would. Every tickCount() advances the clock
// by 1 ms, so a busy wait on it ends; sleep() advances it by its argument.
// Errors are errno values: EBADF on a closed port, EBUSY when opened twice, EIO on every read
// and write once the device has hung up (the line stays dead, also after reopening).
class PortSimule : public SerialPort {
public:
    explicit PortSimule(Configuration configuration = {});

    Appareil& appareil() { return m_appareil; }
    const Appareil& appareil() const { return m_appareil; }

    // The next open() calls fail with this errno (0: they succeed again).
    void faireEchouerOuverture(int code) { m_echecOuverture = code; }
    bool ouvert() const { return m_ouvert; }
    std::uint32_t horloge() const { return m_horloge; }
    // Every byte the PC wrote, in order, and the number of purges.
    const std::vector<std::uint8_t>& ecrits() const { return m_ecrits; }
    std::uint32_t purges() const { return m_purges; }
    std::uint32_t lecturesVides() const { return m_lecturesVides; }

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
    std::uint32_t tickCount() override { return ++m_horloge; }
    void sleep(std::uint32_t ms) override { m_horloge += ms; }

private:
    bool echec(int code);
    bool pret();

    Appareil m_appareil;
    std::deque<std::uint8_t> m_entree; // the device's bytes not yet read by the PC
    bool m_ouvert = false;
    int m_echecOuverture = 0;
    int m_erreur = 0;
    std::uint32_t m_horloge = 0;
    LineSettings m_reglages;
    Timeouts m_delais{500, 100, 1000, 100, 1000};
    std::vector<std::uint8_t> m_ecrits;
    std::uint32_t m_purges = 0;
    std::uint32_t m_lecturesVides = 0;
};

} // namespace korvane::sim
