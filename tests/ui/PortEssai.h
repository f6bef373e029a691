#pragma once

#include "loader/SerialPort.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace korvane::essai {

// A serial port for the window's tests: opens under any name, answers the handshake byte
// 0x80 with 0x81 and echoes the reset byte 0x04 as a boot loader does, records every byte
// written and never waits (its clock moves on by itself).
class PortEssai : public SerialPort {
public:
    bool open(const char*) override
    {
        ouvert = true;
        return true;
    }
    bool getSettings(LineSettings&) override { return true; }
    bool setSettings(const LineSettings&) override { return true; }
    bool getTimeouts(Timeouts&) override { return true; }
    bool setTimeouts(const Timeouts&) override { return true; }
    bool purge() override
    {
        reponses.clear();
        return true;
    }
    bool writeByte(std::uint8_t octet) override
    {
        ecrits.push_back(octet);
        if (octet == 0x80)
            reponses.push_back(0x81);
        else if (octet == 0x04)
            reponses.push_back(0x04);
        return true;
    }
    bool readByte(std::uint8_t& octet, bool& recu) override
    {
        recu = !reponses.empty();
        if (recu) {
            octet = reponses.front();
            reponses.pop_front();
        } else {
            horloge += 1100;
        }
        return true;
    }
    bool close() override
    {
        ouvert = false;
        return true;
    }
    std::int32_t lastError() const override { return 0; }
    std::uint32_t tickCount() override { return horloge += 1; }
    void sleep(std::uint32_t ms) override { horloge += ms; }

    bool ouvert = false;
    std::vector<std::uint8_t> ecrits;
    std::deque<std::uint8_t> reponses;
    std::uint32_t horloge = 0;
};

} // namespace korvane::essai
