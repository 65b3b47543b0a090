#pragma once

// The conversion runs as stages that each take the text a piece at a time and hand what
// they make to the next: normalising (normaliser.h), scanning (scanner.h), rewriting
// (rewriter.h), assembling (assembler.h). A piece may end anywhere, even inside a line
// break, a tag or a search phrase: each stage carries what it has seen across the cut,
// so that any cutting gives the same result as the whole text in one piece. The phase
// functions and the file-to-file conversion are both built from these. Here: what
// passes the pieces from one stage to the next.

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace velmora::detail {

// Takes the pieces of a text one after the other.
class PieceSink {
public:
    virtual ~PieceSink() = default;
    virtual void Take(std::string_view piece) = 0;
    // The piece buffer[0, used), from a writer whose buffer may be taken along: a sink that
    // keeps pieces for later swaps in another buffer, of at least the size it takes.
    virtual void TakeBuffer(std::string& buffer, std::size_t used) {
        Take(std::string_view(buffer.data(), used));
    }
    // A place between two pieces that a later stage notes (Assembler::Mark).
    virtual void Mark() {}
};

// Collects the pieces into one string, as far as the memory the system can give goes
// (std::bad_alloc beyond).
class StringSink final : public PieceSink {
public:
    explicit StringSink(std::string& into) : m_into(into) {}
    void Take(std::string_view piece) override;

private:
    std::string& m_into;
};

// Gathers small writes into pieces of a fixed size for the next stage.
class PieceWriter {
public:
    explicit PieceWriter(PieceSink& next);
    // Room for `count` bytes at once, to be written at Cursor() and then Advance()d over.
    char* Reserve(std::size_t count) {
        return count <= m_buffer.size() - m_used ? m_buffer.data() + m_used : ReserveLong(count);
    }
    void Advance(std::size_t count) { m_used += count; }
    // Small writes, most of them, go straight into the buffer.
    void Put(const char* data, std::size_t count) {
        if (count <= m_buffer.size() - m_used) {
            std::memcpy(m_buffer.data() + m_used, data, count);
            m_used += count;
        } else {
            PutLong(data, count);
        }
    }
    void PutRepeated(char c, std::size_t count) {
        if (count <= m_buffer.size() - m_used) {
            std::memset(m_buffer.data() + m_used, c, count);
            m_used += count;
        } else {
            PutRepeatedLong(c, count);
        }
    }
    void Flush();
    // Flushes, and passes a mark on at the place reached.
    void Mark() {
        Flush();
        m_next.Mark();
    }

private:
    char* ReserveLong(std::size_t count);
    void PutLong(const char* data, std::size_t count);
    void PutRepeatedLong(char c, std::size_t count);

    PieceSink& m_next;
    std::string m_buffer;
    std::size_t m_used = 0;
};

} // namespace velmora::detail
