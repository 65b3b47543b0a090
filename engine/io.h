#pragma once

// File-descriptor plumbing shared by the reading and writing phases.

#include <unistd.h>

namespace velmora::detail {

inline constexpr const char* kOutOfMemory = "not enough memory";

// Owns a descriptor and closes it on every way out of a scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    int Get() const { return m_fd; }
    // Closes now and reports the result: close can be the first to learn that
    // buffered data did not reach the disk.
    int Close() {
        const int fd = m_fd;
        m_fd = -1;
        return close(fd);
    }

private:
    int m_fd;
};

} // namespace velmora::detail
