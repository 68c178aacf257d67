// The annotating filter: copies a device table and adds to each entry line
// the modules its description maps to.
#pragma once

#include "maptable.h"

#include <cstddef>

// Copies the table from in to out, annotating its entry lines from t, with
// buffers of bufsize bytes. Throws failure when in cannot be read or out
// cannot be written.
void annotate(int in, int out, const maptable& t, std::size_t bufsize = std::size_t{512} * 1024);
