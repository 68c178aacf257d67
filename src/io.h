// Plain reads and writes on file descriptors, retried when interrupted.
#pragma once

#include <cstddef>
#include <string_view>

// Reads up to n bytes; returns the count, 0 at end of input, -1 on error (errno set).
long readfd(int fd, char* buf, std::size_t n);

// Writes all of s; false on error (errno set).
bool writefd(int fd, std::string_view s);
