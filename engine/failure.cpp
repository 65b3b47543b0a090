#include "velmora/failure.h"

namespace velmora {

std::string Describe(const Failure& failure) {
    std::string line;
    switch (failure.action) {
    case Action::Read:
        line = "cannot read";
        break;
    case Action::Convert:
        line = "cannot convert";
        break;
    case Action::Write:
        line = "cannot write";
        break;
    }
    if (!failure.path.empty()) {
        line += " \"" + failure.path + "\"";
    }
    return line + ": " + failure.reason;
}

} // namespace velmora
