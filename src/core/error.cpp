#include "core/error.h"

#include <exception>
#include <new>
#include <stdexcept>
#include <string_view>

#include "core/text.h"

namespace tessaloom {

std::wstring RuntimeErrorText(const RuntimeError& error) {
    return L"Run-time error '" + DecimalText(error.Number()) + L"':\n\n" + error.Description();
}

RuntimeError CurrentError() {
    try {
        throw;
    } catch (const RuntimeError& error) {
        return error;
    } catch (const std::bad_alloc&) {
        return {kErrOutOfMemory, L"Out of memory"};
    } catch (const std::out_of_range&) {
        return {kErrSubscriptOutOfRange, L"Subscript out of range"};
    } catch (const std::exception& error) {
        // Library messages are ASCII; widen them byte by byte.
        const std::string_view what = error.what();
        return {kErrInternal, L"Internal error: " + std::wstring(what.begin(), what.end())};
    } catch (...) {
        return {kErrInternal, L"Internal error"};
    }
}

}  // namespace tessaloom
