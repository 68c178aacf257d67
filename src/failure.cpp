#include "failure.h"

#include <new>

void report(const std::exception_ptr& e, std::FILE* to)
{
    try {
        std::rethrow_exception(e);
    } catch (const failure& f) {
        std::fprintf(to, "%s\n", f.what());
    } catch (const std::bad_alloc&) {
        std::fputs("Cant allocate memory\n", to);
    } catch (const std::length_error&) {  // a buffer larger than any allocation
        std::fputs("Cant allocate memory\n", to);
    } catch (const std::exception& x) {
        std::fprintf(to, "Cant annotate: %s\n", x.what());
    } catch (...) {
        std::fputs("Cant annotate: unknown failure\n", to);
    }
}
