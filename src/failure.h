// What ends a run early: the message for the user, written once by main.
#pragma once

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

struct failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A failure whose message is what, a colon and the system's text for errno.
[[noreturn]] inline void syserror(const char* what)
{
    throw failure(std::string(what) + ": " + std::strerror(errno));
}
