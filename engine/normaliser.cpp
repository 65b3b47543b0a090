#include "normaliser.h"

#include "bytes.h"

namespace velmora::detail {

Normaliser::Normaliser(std::string_view lineBreak) : m_lineBreak(lineBreak) {}

std::string_view Normaliser::Feed(char* data, std::size_t n, bool last) {
    if (m_heldCr) {
        *--data = '\r';
        ++n;
        m_heldCr = false;
    }
    if (!last && n > 0 && m_lineBreak.size() == 2 && data[n - 1] == '\r') {
        m_heldCr = true;
        --n;
    }
    return std::string_view(data, NormaliseInPlace(data, n));
}

std::size_t Normaliser::NormaliseInPlace(char* data, std::size_t n) {
    return ChosenKernels().normalise(data, n, m_lineBreak.data(), m_lineBreak.size(), m_spaceRun);
}

} // namespace velmora::detail
