// The C interface over the engine: each call runs one conversion and turns its outcome,
// or its Failure, into the interface's terms. Nothing here prints or ends the process,
// and nothing is thrown across the interface.

#define VELMORA_BUILDING
#include "velmora.h"

#include "velmora/convert.h"
#include "velmora/failure.h"
#include "velmora/output_path.h"
#include "velmora/version.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace {

using namespace velmora;

// Copies `text` into `buffer`, cut short at a UTF-8 character's boundary when it does not
// fit.
template <std::size_t N> void Put(char (&buffer)[N], const std::string& text) {
    std::size_t size = std::min(text.size(), N - 1);
    if (size < text.size()) {
        while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) {
            --size;
        }
    }
    std::memcpy(buffer, text.data(), size);
    buffer[size] = '\0';
}

velmora_outcome Succeed(velmora_failure* failure, velmora_outcome outcome) {
    if (failure != nullptr) {
        failure->code = VELMORA_FAILURE_NONE;
        failure->error = 0;
        failure->path[0] = '\0';
        failure->message[0] = '\0';
        if (outcome == VELMORA_REFUSED) {
            Put(failure->message, kRefusedMessage);
        }
    }
    return outcome;
}

velmora_outcome Fail(velmora_failure* failure, velmora_failure_code code, int error,
                     const std::string& path, const std::string& message) {
    if (failure != nullptr) {
        failure->code = code;
        failure->error = error;
        Put(failure->path, path);
        Put(failure->message, message);
    }
    return VELMORA_FAILED;
}

velmora_outcome Fail(velmora_failure* failure, const Failure& what) {
    velmora_failure_code code = VELMORA_FAILURE_READ;
    std::string message;
    if (what.error == ENOMEM) {
        code = VELMORA_FAILURE_MEMORY;
        message = what.path.empty() ? "not enough memory to convert"
                                    : "not enough memory to convert \"" + what.path + '"';
    } else {
        if (what.context == kChangedMessage) {
            code = VELMORA_FAILURE_CHANGED;
        } else if (what.context == kStoppedMessage) {
            code = VELMORA_FAILURE_STOPPED;
        } else if (what.action == Action::Write) {
            code = VELMORA_FAILURE_WRITE;
        }
        message = Describe(what);
    }
    return Fail(failure, code, what.error, what.path, message);
}

velmora_outcome Usage(velmora_failure* failure, const std::string& message) {
    return Fail(failure, VELMORA_FAILURE_USAGE, 0, {}, message);
}

// The caller's progress callback as the engine's sink: its answer is kept and asked for
// after each piece.
class CallbackProgress final : public ProgressSink {
public:
    CallbackProgress(velmora_progress_fn progress, void* user)
        : m_progress(progress), m_user(user) {}
    void SetMax(float max) override { m_max = max; }
    void SetValue(float value) override {
        if (m_progress != nullptr && !m_stopped) {
            m_stopped = m_progress(m_user, value, m_max) != 0;
        }
    }
    bool Stopped() override { return m_stopped; }
    bool Shown() const override { return m_progress != nullptr; }

private:
    velmora_progress_fn m_progress;
    void* m_user;
    float m_max = 0;
    bool m_stopped = false;
};

// One conversion, with whatever escapes the engine (memory, mostly) kept inside.
template <typename Work> velmora_outcome Guarded(velmora_failure* failure, Work work) {
    try {
        return work();
    } catch (...) { // std::bad_alloc, std::length_error
        return Fail(failure, VELMORA_FAILURE_MEMORY, ENOMEM, {}, "not enough memory to convert");
    }
}

velmora_outcome Run(const Source& source, const Destination& destination,
                    velmora_progress_fn progress, void* user, velmora_failure* failure) {
    CallbackProgress sink(progress, user);
    Result<SourceOutcome> converted = Convert(source, destination, sink);
    if (!converted.has_value()) {
        return Fail(failure, converted.error());
    }
    switch (converted.value()) {
    case SourceOutcome::Empty:
        return Succeed(failure, VELMORA_EMPTY);
    case SourceOutcome::Refused:
        return Succeed(failure, VELMORA_REFUSED);
    case SourceOutcome::Accepted:
        break;
    }
    return Succeed(failure, VELMORA_CONVERTED);
}

WriteFunction Writer(velmora_write_fn write, void* user) {
    return [write, user](std::string_view piece) {
        return write(user, piece.data(), piece.size()) == 0;
    };
}

std::string Quoted(const std::string& path) {
    return '"' + path + '"';
}

} // namespace

extern "C" {

const char* velmora_version(void) {
    return kVersion;
}

velmora_outcome velmora_convert_file_progress(const char* input, const char* output,
                                              velmora_progress_fn progress, void* user,
                                              velmora_failure* failure) {
    return Guarded(failure, [&] {
        if (input == nullptr || *input == '\0') {
            return Usage(failure, "no input named");
        }
        const std::string in(input);
        std::string out;
        if (output != nullptr) {
            out = output;
        } else if (HasOutputBeside(in)) {
            out = DefaultOutputPath(in);
        } else {
            return Usage(failure, Quoted(in) + " is not a file, so its output cannot be " +
                                      "written beside it; name one");
        }
        if (SameFile(in, out)) {
            return Usage(failure, "the output " + Quoted(out) + " would replace the input " +
                                      Quoted(in) + "; name another");
        }
        return Run(Source::File(in), Destination::File(out), progress, user, failure);
    });
}

velmora_outcome velmora_convert_file(const char* input, const char* output,
                                     velmora_failure* failure) {
    return velmora_convert_file_progress(input, output, nullptr, nullptr, failure);
}

velmora_outcome velmora_convert_memory(const char* bytes, size_t size, velmora_write_fn write,
                                       velmora_progress_fn progress, void* user,
                                       velmora_failure* failure) {
    return Guarded(failure, [&] {
        if (write == nullptr || (bytes == nullptr && size > 0)) {
            return Usage(failure, write == nullptr ? "no write callback" : "no bytes to convert");
        }
        return Run(Source::Text(std::string_view(bytes == nullptr ? "" : bytes, size), {}),
                   Destination::Writer(Writer(write, user), {}), progress, user, failure);
    });
}

velmora_outcome velmora_convert_stream(velmora_read_fn read, velmora_write_fn write,
                                       velmora_progress_fn progress, void* user,
                                       velmora_failure* failure) {
    return Guarded(failure, [&] {
        if (read == nullptr || write == nullptr) {
            return Usage(failure, read == nullptr ? "no read callback" : "no write callback");
        }
        ReadFunction reader = [read, user](char* buffer, std::size_t size, std::size_t& got) {
            const long long count = read(user, buffer, size);
            if (count < 0) {
                got = 0;
                return count >= -4095 ? static_cast<int>(-count) : EIO;
            }
            got = std::min(static_cast<std::size_t>(count), size);
            return 0;
        };
        return Run(Source::Reader(std::move(reader), {}),
                   Destination::Writer(Writer(write, user), {}), progress, user, failure);
    });
}

size_t velmora_default_output(const char* input, char* buffer, size_t size) {
    try {
        const std::string path = DefaultOutputPath(input == nullptr ? std::string() : input);
        if (path.size() < size && buffer != nullptr) {
            std::memcpy(buffer, path.c_str(), path.size() + 1);
        } else if (size > 0 && buffer != nullptr) {
            buffer[0] = '\0';
        }
        return path.size();
    } catch (...) {
        if (size > 0 && buffer != nullptr) {
            buffer[0] = '\0';
        }
        return static_cast<size_t>(-1);
    }
}

} // extern "C"
