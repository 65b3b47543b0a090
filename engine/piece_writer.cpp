#include "piece_writer.h"

#include "piece_memory.h"
#include "velmora/process.h"

#include <algorithm>
#include <new>

namespace velmora::detail {

void EnsureCapacity(std::string& text, std::size_t size, std::size_t alsoNeeded) {
    if (size <= text.capacity()) {
        return;
    }
    const std::size_t wanted = std::max(size, text.capacity() * 2);
    if (wanted >= (std::size_t{8} << 20) &&
        wanted + text.capacity() + alsoNeeded > MemoryBudget::Shared().Room()) {
        throw std::bad_alloc();
    }
    text.reserve(wanted);
}

void StringSink::Take(std::string_view piece) {
    EnsureCapacity(m_into, m_into.size() + piece.size());
    m_into.append(piece);
}

// ---- PieceWriter ----------------------------------------------------------------------

PieceWriter::PieceWriter(PieceSink& next) : m_next(next) {
    m_buffer.resize(kPieceSize);
}

char* PieceWriter::ReserveLong(std::size_t count) {
    Flush();
    if (count > m_buffer.size()) { // a line longer than a piece: the buffer grows to it
        EnsureCapacity(m_buffer, count);
        m_buffer.resize(count);
    }
    return m_buffer.data();
}

void PieceWriter::PutLong(const char* data, std::size_t count) {
    Flush();
    if (count >= m_buffer.size()) {
        m_next.Take(std::string_view(data, count));
    } else {
        std::memcpy(m_buffer.data(), data, count);
        m_used = count;
    }
}

void PieceWriter::PutRepeatedLong(char c, std::size_t count) {
    while (count > 0) {
        if (m_used == m_buffer.size()) {
            Flush();
        }
        const std::size_t now = std::min(count, m_buffer.size() - m_used);
        std::memset(m_buffer.data() + m_used, c, now);
        m_used += now;
        count -= now;
    }
}

void PieceWriter::Flush() {
    if (m_used > 0) {
        m_next.TakeBuffer(m_buffer, m_used);
        m_used = 0;
    }
}

} // namespace velmora::detail
