#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace velmora::detail {

// A digest of the bytes of one reading, to tell whether two readings delivered the same
// bytes: not proof against a file made to collide, only against one that changed. It
// does not depend on where the reads cut the bytes. It can also note its value once
// `mark` bytes have been fed.
class Digest {
public:
    void MarkAt(std::uint64_t mark) { m_mark = mark; }
    void Feed(const char* data, std::size_t size) {
        if (m_count < m_mark && m_mark - m_count <= size) {
            const auto before = static_cast<std::size_t>(m_mark - m_count);
            Add(data, before);
            m_marked = Value();
            data += before;
            size -= before;
        }
        Add(data, size);
    }
    std::uint64_t Count() const { return m_count; }
    std::uint64_t Marked() const { return m_marked; }
    // The digest of everything fed so far, its length included.
    std::uint64_t Value() const {
        std::uint64_t tail = 0;
        std::memcpy(&tail, m_held, m_heldSize);
        return Mix(Mix(m_lanes[0] ^ tail) ^ Mix(m_lanes[1] + m_count));
    }

private:
    static constexpr std::uint64_t kOdd = 0x9E3779B97F4A7C15u;
    static std::uint64_t Mix(std::uint64_t x) {
        x ^= x >> 31;
        x *= kOdd;
        return x ^ (x >> 29);
    }
    void Step(const char* word, int lane) {
        std::uint64_t w = 0;
        std::memcpy(&w, word, 8);
        m_lanes[lane] = ((m_lanes[lane] ^ w) * kOdd) ^ (m_lanes[lane] >> 32);
    }
    void Add(const char* data, std::size_t size) {
        m_count += size;
        // Whole words in two lanes, alternately; the bytes of a word cut between two
        // reads wait in m_held.
        while (size > 0 && m_heldSize > 0) {
            m_held[m_heldSize++] = *data++;
            --size;
            if (m_heldSize == 8) {
                Step(m_held, m_lane);
                m_lane ^= 1;
                m_heldSize = 0;
            }
        }
        if (m_heldSize > 0) {
            return;
        }
        for (; size >= 8; data += 8, size -= 8) {
            Step(data, m_lane);
            m_lane ^= 1;
        }
        std::memcpy(m_held, data, size);
        m_heldSize = size;
    }

    std::uint64_t m_lanes[2] = {kOdd, ~kOdd};
    int m_lane = 0;
    char m_held[8] = {};
    std::size_t m_heldSize = 0;
    std::uint64_t m_count = 0;
    std::uint64_t m_mark = UINT64_MAX;
    std::uint64_t m_marked = 0;
};

} // namespace velmora::detail
