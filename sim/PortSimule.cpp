#include "sim/PortSimule.h"

#include <cerrno>

namespace korvane::sim {

PortSimule::PortSimule(Configuration configuration) : m_appareil(std::move(configuration))
{
    // What a freshly plugged line reports before anyone configures it.
    m_reglages.baudRate = 9600;
    m_reglages.byteSize = 8;
}

bool PortSimule::echec(int code)
{
    m_erreur = code;
    return false;
}

bool PortSimule::pret()
{
    if (!m_ouvert)
        return echec(EBADF);
    if (m_appareil.raccroche()) {
        m_entree.clear();
        return echec(EIO);
    }
    return true;
}

bool PortSimule::open(const char*)
{
    if (m_echecOuverture != 0)
        return echec(m_echecOuverture);
    if (m_ouvert)
        return echec(EBUSY);
    m_ouvert = true;
    return true;
}

bool PortSimule::getSettings(LineSettings& out)
{
    if (!m_ouvert)
        return echec(EBADF);
    out = m_reglages;
    return true;
}

bool PortSimule::setSettings(const LineSettings& in)
{
    if (!m_ouvert)
        return echec(EBADF);
    m_reglages = in;
    return true;
}

bool PortSimule::getTimeouts(Timeouts& out)
{
    if (!m_ouvert)
        return echec(EBADF);
    out = m_delais;
    return true;
}

bool PortSimule::setTimeouts(const Timeouts& in)
{
    if (!m_ouvert)
        return echec(EBADF);
    m_delais = in;
    return true;
}

bool PortSimule::purge()
{
    if (!pret())
        return false;
    m_entree.clear();
    ++m_purges;
    return true;
}

bool PortSimule::writeByte(std::uint8_t byte)
{
    if (!pret())
        return false;
    m_ecrits.push_back(byte);
    m_appareil.recevoir(byte);
    for (std::uint8_t o : m_appareil.prendreSortie())
        m_entree.push_back(o);
    return true;
}

bool PortSimule::readByte(std::uint8_t& byte, bool& received)
{
    if (!pret())
        return false;
    if (m_entree.empty()) {
        m_horloge += m_delais.readTotalMultiplier + m_delais.readTotalConstant;
        ++m_lecturesVides;
        received = false;
        return true;
    }
    byte = m_entree.front();
    m_entree.pop_front();
    received = true;
    return true;
}

bool PortSimule::close()
{
    if (!m_ouvert)
        return echec(EBADF);
    m_ouvert = false;
    m_entree.clear();
    return true;
}

} // namespace korvane::sim
