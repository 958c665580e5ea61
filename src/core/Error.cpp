#include "core/Error.hpp"

#include <cstring>

namespace shapescale {

std::string systemReason(int errnum) {
    return std::strerror(errnum);
}

}  // namespace shapescale
