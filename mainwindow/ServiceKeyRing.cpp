#include "mainwindow/ServiceKeyRing.h"

#include <algorithm>

#include <Qt>

ServiceKeyRing& ServiceKeyRing::Shared()
{
    static ServiceKeyRing ring;
    return ring;
}

const std::array<ServiceKeyRing::Code, 4>& ServiceKeyRing::Codes()
{
    static const std::array<Code, 4> codes = {{
        {{Qt::Key_Q, Qt::Key_X, Qt::Key_C}},
        {{Qt::Key_Q, Qt::Key_X, Qt::Key_B}},
        {{Qt::Key_Q, Qt::Key_X, Qt::Key_V}},
        {{Qt::Key_Q, Qt::Key_X, Qt::Key_Z}},
    }};
    return codes;
}

ServiceKeyRing::Service ServiceKeyRing::Add(int key)
{
    m_keys.push_back(key);
    if (m_keys.size() > 3)
        m_keys.pop_front();
    if (m_keys.size() < 3)
        return NoService;
    const auto& codes = Codes();
    for (std::size_t i = 0; i < codes.size(); ++i) {
        if (std::equal(codes[i].begin(), codes[i].end(), m_keys.begin()))
            return static_cast<Service>(i);
    }
    return NoService;
}
