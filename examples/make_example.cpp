// Writes the demo mesh: a closed dumbbell with a large bulb, a thin neck and
// a smaller bulb, so that the scale volume shows thick and thin parts.
// Usage: make_example <output.off>

#include <cstdio>
#include <exception>

#include "shapes/Shapes.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s output.off\n", argv[0]);
        return 1;
    }
    try {
        shapescale::shapes::writeOff(shapescale::shapes::dumbbell(96, 96), argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
    return 0;
}
