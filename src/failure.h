// What ends a run early, and the one message it gives.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

// A failure whose text is the message for the user.
struct failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A failure whose message is what, a colon and the system's text for errno.
[[noreturn]] inline void syserror(const char* what)
{
    throw failure(std::string(what) + ": " + std::strerror(errno));
}

// Writes the one message for whatever a run threw, with its newline: a
// failure's own text, that memory ran out, or else what the exception says
// of itself. It allocates nothing, since memory may be what ran out.
void report(const std::exception_ptr& e, std::FILE* to);
