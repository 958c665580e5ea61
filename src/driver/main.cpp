// Entry point: the only place that turns a failure into an exit status.

#include <cstdio>
#include <exception>
#include <new>

#include "core/Error.hpp"
#include "core/Interrupt.hpp"
#include "driver/Driver.hpp"

int main(int argc, char** argv) {
    shapescale::installSignalHandlers();
    try {
        return shapescale::runCommandLine(argc, argv);
    } catch (const shapescale::Interrupted& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "shapescale: %s\n", e.what());
        // The shell's convention for a process ended by a signal.
        return 128 + e.signal();
    } catch (const shapescale::Error& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "shapescale: %s\n", e.what());
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fprintf(stderr, "shapescale: out of memory\n");
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "shapescale: internal error: %s\n", e.what());
    }
    return shapescale::EXIT_RUN_FAILED;
}
