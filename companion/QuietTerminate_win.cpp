// The service's std::terminate handler. The library's own (the "verbose" one) writes the
// uncaught exception's demangled type to stderr before it aborts; a service has no stderr,
// and that handler's demangler and printf were a fifth of DrivewardService.exe. This one
// ends the process the same way, by abort, without the text nobody could read. Every
// function the system calls already catches what it could throw, so it is the last resort.
#include <cstdlib>

namespace __gnu_cxx {

// Replaces the library's definition at static link time: the linker takes an archive
// member only for a symbol still undefined, and this one is defined here.
void __verbose_terminate_handler() {
    std::abort();
}

} // namespace __gnu_cxx
