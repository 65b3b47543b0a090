#include "failure.h"

namespace velmora {

std::string Describe(const Failure& failure) {
    std::string line = failure.action;
    if (!failure.path.empty()) {
        line += " \"" + failure.path + "\"";
    }
    return line + ": " + failure.reason;
}

} // namespace velmora
