// What the program does with a C++ exception that nothing catches: it ends at once, as the
// runtime's default would after printing the exception's name to a console that a windowed program
// does not have. Defining the handler here keeps the runtime's printing handler, and the name
// demangler and formatted printing it brings, out of the program.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    std::abort();
}

}  // namespace __gnu_cxx
