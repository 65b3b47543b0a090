#include "velmora/failure.h"

#include "system.h"

#include <cerrno>
#include <cstring>

namespace velmora {

const char* ErrorText(int error) {
    // The C libraries word these differently ("Not enough space" on Windows); these are
    // Linux's words, which the users of every build read.
    switch (error) {
    case ENOMEM:
        return "not enough memory";
    case EPERM:
        return "Operation not permitted";
    case ENOENT:
        return "No such file or directory";
    case EINTR:
        return "Interrupted system call";
    case EIO:
        return "Input/output error";
    case ENXIO:
        return "No such device or address";
    case EBADF:
        return "Bad file descriptor";
    case EAGAIN:
        return "Resource temporarily unavailable";
    case EACCES:
        return "Permission denied";
    case EBUSY:
        return "Device or resource busy";
    case EEXIST:
        return "File exists";
    case EXDEV:
        return "Invalid cross-device link";
    case ENODEV:
        return "No such device";
    case ENOTDIR:
        return "Not a directory";
    case EISDIR:
        return "Is a directory";
    case EINVAL:
        return "Invalid argument";
    case ENFILE:
        return "Too many open files in system";
    case EMFILE:
        return "Too many open files";
    case EFBIG:
        return "File too large";
    case ENOSPC:
        return "No space left on device";
    case ESPIPE:
        return "Illegal seek";
    case EROFS:
        return "Read-only file system";
    case EPIPE:
        return "Broken pipe";
    case ENAMETOOLONG:
        return "File name too long";
    case ENOTEMPTY:
        return "Directory not empty";
    case ELOOP:
        return "Too many levels of symbolic links";
    case EOPNOTSUPP:
        return "Operation not supported";
    default:
        // The C library's words, which may stand only until its next call on this thread:
        // every caller copies them at once.
        return std::strerror(error);
    }
}

std::string SystemErrorText(int error) {
    return sys::SystemWords(error);
}

const char* ActionText(Action action) {
    switch (action) {
    case Action::Read:
        return "cannot read";
    case Action::Write:
        return "cannot write";
    case Action::Convert:
        break;
    }
    return "cannot convert";
}

std::string Failure::Reason(Wording wording) const {
    if (error == 0) {
        return context;
    }
    const std::string words =
        wording == Wording::System ? SystemErrorText(error) : std::string(ErrorText(error));
    return context.empty() ? words : context + ": " + words;
}

std::string Describe(const Failure& failure, Wording wording) {
    std::string line = ActionText(failure.action);
    if (!failure.path.empty()) {
        line += " \"" + failure.path + "\"";
    }
    return line + ": " + failure.Reason(wording);
}

} // namespace velmora
