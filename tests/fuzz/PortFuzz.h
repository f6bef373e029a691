#pragma once

// PortFuzz: a serial port whose device answers from a byte stream taken from the fuzzer's
// input, on a virtual clock, and which checks how the loader client uses it.
//
// The stream. Each readByte() takes the next byte of the stream, with two escapes so that
// silence and a failed read can be played too:
//   0xFF 0x00  the read limit passes with nothing on the line
//   0xFF 0x01  the read fails with EIO (the line has gone)
// Any other byte, 0xFF included when not followed by 0x00 or 0x01, is delivered as it is.
// Once the stream is used up, every read is silent. Nothing ever waits: a silent read moves
// the clock on by the read limit, a byte written or read by 1 ms, each tickCount() reading
// by 1 ms (so a wait spinning on the counter always ends) and sleep(ms) by ms.
//
// Faults. armer() makes the call of a given kind fail with a given error after `passer` calls
// of that kind have gone through.
//
// Checks. A call the client should never make (opening an open port, any call on a closed
// port but open, tickCount and sleep) and a run of port calls with no end (more than
// `appelsMax` since the last debut()) abort the process with a message, so that the fuzzer
// reports them as crashes.

#include "loader/SerialPort.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace korvane::fuzz {

[[noreturn]] inline void echec(const char* quoi)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", quoi);
    std::abort();
}

// With KORVANE_FUZZ_TRACE set, the targets print what each step did (to read a crash input).
inline bool trace()
{
    static const bool active = std::getenv("KORVANE_FUZZ_TRACE") != nullptr;
    return active;
}

#define FUZZ_VERIFIER(cond)                                                                        \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::korvane::fuzz::echec(#cond);                                                         \
    } while (0)

class PortFuzz : public SerialPort {
public:
    enum class Appel {
        Open,
        GetSettings,
        SetSettings,
        GetTimeouts,
        SetTimeouts,
        Purge,
        Write,
        Read,
        Close,
        Nombre
    };

    PortFuzz(const std::uint8_t* flux, std::size_t taille, std::uint32_t horloge)
        : m_flux(flux), m_taille(taille), m_horloge(horloge)
    {
        m_reglages.baudRate = 19200;
        m_reglages.byteSize = 7;
        m_reglages.parity = 1;
        m_reglages.hasNative = true;
        m_reglages.native[0] = 0x5A;
        m_propres = m_reglages;
    }

    // The port's own time limits, which the client must put back when it closes it.
    static constexpr Timeouts kDelaisPropres{1, 2, 3, 4, 5};

    // Starts counting the calls of one operation of the client.
    void debut(std::size_t appelsMax)
    {
        m_appels = 0;
        m_appelsMax = appelsMax;
        m_ecrits.clear();
        m_lus.clear();
        m_lectures = 0;
    }
    const std::vector<std::uint8_t>& ecrits() const { return m_ecrits; } // since debut()
    const std::vector<std::uint8_t>& lus() const { return m_lus; }       // since debut()
    std::size_t lectures() const { return m_lectures; }                  // since debut()
    std::uint32_t horloge() const { return m_horloge; }
    bool pannesArmees() const { return m_armees; }

    void armer(Appel appel, int passer, std::int32_t erreur)
    {
        m_pannes.push_back({appel, passer, erreur});
        m_armees = true;
    }
    bool ouvert() const { return m_ouvert; }
    // Whether the settings and time limits the port had before it was opened are back.
    bool reglagesPropresRemis() const
    {
        return m_reglages.native == m_propres.native && m_reglages.baudRate == 19200 &&
               m_delais.readInterval == kDelaisPropres.readInterval &&
               m_delais.readTotalMultiplier == kDelaisPropres.readTotalMultiplier &&
               m_delais.readTotalConstant == kDelaisPropres.readTotalConstant &&
               m_delais.writeTotalMultiplier == kDelaisPropres.writeTotalMultiplier &&
               m_delais.writeTotalConstant == kDelaisPropres.writeTotalConstant;
    }

    bool open(const char* name) override
    {
        compter();
        FUZZ_VERIFIER(name != nullptr && name[0] != '\0');
        FUZZ_VERIFIER(!m_ouvert); // the client closes before it opens again
        if (enPanne(Appel::Open))
            return false;
        m_ouvert = true;
        return true;
    }
    bool getSettings(LineSettings& out) override
    {
        if (!appelOuvert(Appel::GetSettings))
            return false;
        out = m_reglages;
        return true;
    }
    bool setSettings(const LineSettings& in) override
    {
        if (!appelOuvert(Appel::SetSettings))
            return false;
        if (in.hasNative) {
            m_reglages = in;
        } else {
            m_reglages = in;
            m_reglages.hasNative = true;
            m_reglages.native.fill(0);
        }
        return true;
    }
    bool getTimeouts(Timeouts& out) override
    {
        if (!appelOuvert(Appel::GetTimeouts))
            return false;
        out = m_delais;
        return true;
    }
    bool setTimeouts(const Timeouts& in) override
    {
        if (!appelOuvert(Appel::SetTimeouts))
            return false;
        m_delais = in;
        return true;
    }
    bool purge() override { return appelOuvert(Appel::Purge); }
    bool writeByte(std::uint8_t byte) override
    {
        if (!appelOuvert(Appel::Write))
            return false;
        m_ecrits.push_back(byte);
        m_horloge += 1;
        return true;
    }
    bool readByte(std::uint8_t& byte, bool& received) override
    {
        if (!appelOuvert(Appel::Read))
            return false;
        ++m_lectures;
        received = false;
        if (m_pos >= m_taille) {
            m_horloge += limiteLecture();
            return true;
        }
        const std::uint8_t b = m_flux[m_pos++];
        if (b == 0xFF && m_pos < m_taille && m_flux[m_pos] <= 0x01) {
            const std::uint8_t echappe = m_flux[m_pos++];
            if (echappe == 0x00) {
                m_horloge += limiteLecture();
                return true;
            }
            m_erreur = EIO;
            return false;
        }
        byte = b;
        received = true;
        m_lus.push_back(b);
        m_horloge += 1;
        return true;
    }
    bool close() override
    {
        if (!appelOuvert(Appel::Close))
            return false;
        m_ouvert = false;
        return true;
    }
    std::int32_t lastError() const override { return m_erreur; }
    std::uint32_t tickCount() override
    {
        compter();
        return m_horloge++;
    }
    void sleep(std::uint32_t ms) override
    {
        compter();
        m_horloge += ms;
    }

private:
    struct Panne {
        Appel appel;
        int passer;
        std::int32_t erreur;
    };

    void compter()
    {
        if (++m_appels > m_appelsMax)
            echec("too many port calls in one operation (a loop with no end?)");
    }
    bool appelOuvert(Appel appel)
    {
        compter();
        FUZZ_VERIFIER(m_ouvert); // the client tracks its port and never uses a closed one
        return !enPanne(appel);
    }
    bool enPanne(Appel appel)
    {
        for (auto it = m_pannes.begin(); it != m_pannes.end(); ++it) {
            if (it->appel != appel)
                continue;
            if (it->passer > 0) {
                --it->passer;
                continue;
            }
            m_erreur = it->erreur;
            m_pannes.erase(it);
            return true;
        }
        return false;
    }
    std::uint32_t limiteLecture() const
    {
        // Never less than 1 ms, so that even a port left without limits sees time pass.
        const std::uint32_t limite = m_delais.readTotalMultiplier + m_delais.readTotalConstant;
        return limite > 0 ? limite : 1;
    }

    const std::uint8_t* m_flux;
    std::size_t m_taille;
    std::size_t m_pos = 0;
    std::uint32_t m_horloge;
    bool m_ouvert = false;
    std::int32_t m_erreur = 0;
    LineSettings m_reglages;
    LineSettings m_propres;
    Timeouts m_delais = kDelaisPropres;
    std::vector<Panne> m_pannes;
    std::size_t m_appels = 0;
    std::size_t m_appelsMax = 1000000;
    std::vector<std::uint8_t> m_ecrits;
    std::vector<std::uint8_t> m_lus;
    bool m_armees = false;
    std::size_t m_lectures = 0;
};

} // namespace korvane::fuzz
