// Plain calls on file descriptors, each checked.
#pragma once

#include "maptable.h"

#include <cstddef>
#include <string_view>

// Reads up to n bytes, again when a signal interrupts the call; the count,
// 0 at the end of the input, -1 on an error (errno set).
long readfd(int fd, char* buf, std::size_t n);

// Writes all of s; false on an error (errno set).
bool writefd(int fd, std::string_view s);

// Reads everything from fd into out; false on a read error (errno set).
bool readall(int fd, text& out);

// True when out is the very file that in reads and in has bytes left to
// read: whatever the program wrote would land where it still reads, or be
// read back as input.
bool inputisoutput(int in, int out);
