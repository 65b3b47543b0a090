#pragma once

#include <cstddef>
#include <string_view>

namespace velmora::detail {

// Line breaks to spaces, then runs of spaces halved (a run of n becomes ceil(n/2)), in
// place, a piece at a time.
class Normaliser {
public:
    explicit Normaliser(std::string_view lineBreak);
    // Normalises data[0, n) in place and returns the normalised bytes. A CR at the end of
    // a piece that is not the `last` may begin a CR LF: it is held back and put in front
    // of the next piece, at data[-1], which must then be writable.
    std::string_view Feed(char* data, std::size_t n, bool last);
    // The line break, once it is known, for a normaliser that has seen none so far.
    void SetLineBreak(std::string_view lineBreak) { m_lineBreak = lineBreak; }
    std::string_view LineBreak() const { return m_lineBreak; }

private:
    std::size_t NormaliseInPlace(char* data, std::size_t n);

    std::string_view m_lineBreak;
    std::size_t m_spaceRun = 0; // spaces in the run that ends where the last piece ended
    bool m_heldCr = false;
};

} // namespace velmora::detail
