// The handler std::terminate calls when nothing else is set. libstdc++'s own
// prints the name of the uncaught exception's type to the standard error
// stream and then aborts; for that it links in its whole C++ name demangler,
// about 60 KiB of the executable with its unwind tables. A windowed program
// has no standard error stream to print to, so this definition, which the
// linker takes instead of the library's, only aborts, as the library's would
// after printing.
//
// Every event handler of the window catches what reaches it and shows it
// (Form1::Boundary), so this runs only where an exception escapes that.

#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
