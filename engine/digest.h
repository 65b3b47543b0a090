#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace velmora::detail {

// A digest of the bytes of one reading, to tell whether two readings delivered the same
// bytes: not proof against a file made to collide, only against one that changed. It
// does not depend on where the reads cut the bytes.
class Digest {
public:
    void Feed(const char* data, std::size_t size) { Add(data, size); }
    std::uint64_t Count() const { return m_count; }
    // The digest of everything fed so far, its length included.
    std::uint64_t Value() const {
        std::uint64_t tail = 0;
        std::memcpy(&tail, m_held, m_heldSize);
        return Mix(Mix(m_lanes[0] ^ tail) ^ Mix(m_lanes[1] + m_count) ^
                   Mix(m_lanes[2] - Mix(m_lanes[3])));
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
        // Whole words in four lanes, in turn, so that the multiplications of one lane wait
        // for the others less; the bytes of a word cut between two reads wait in m_held.
        while (size > 0 && m_heldSize > 0) {
            m_held[m_heldSize++] = *data++;
            --size;
            if (m_heldSize == 8) {
                Step(m_held, m_lane);
                m_lane = (m_lane + 1) % kLanes;
                m_heldSize = 0;
            }
        }
        if (m_heldSize > 0) {
            return;
        }
        for (; size >= 8 && m_lane != 0; data += 8, size -= 8) {
            Step(data, m_lane);
            m_lane = (m_lane + 1) % kLanes;
        }
        for (; size >= 8 * kLanes; data += 8 * kLanes, size -= 8 * kLanes) {
            for (int lane = 0; lane < kLanes; ++lane) {
                Step(data + 8 * lane, lane);
            }
        }
        for (; size >= 8; data += 8, size -= 8) {
            Step(data, m_lane);
            m_lane = (m_lane + 1) % kLanes;
        }
        std::memcpy(m_held, data, size);
        m_heldSize = size;
    }

    static constexpr int kLanes = 4;
    std::uint64_t m_lanes[kLanes] = {kOdd, ~kOdd, kOdd >> 1, ~kOdd >> 1};
    int m_lane = 0;
    char m_held[8] = {};
    std::size_t m_heldSize = 0;
    std::uint64_t m_count = 0;
};

} // namespace velmora::detail
