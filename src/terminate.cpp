// The handler std::terminate calls when nothing else is set. libstdc++'s own
// prints the name of the uncaught exception's type to the standard error
// stream and then aborts; for that it links in its whole C++ name demangler,
// about 45 KiB of the executable. A windowed program has no standard error
// stream to print to, so this definition, which the linker takes before the
// library's, only aborts, as the library's would after printing.
//
// Every event handler catches what it is given and shows it (see Form1), so
// this runs only where an exception escapes that boundary.

#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
