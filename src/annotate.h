// The annotating filter: copies a device table and adds to each entry line
// the modules its description maps to.
#pragma once

#include "linereader.h"
#include "maptable.h"
#include "writer.h"

// Copies the table from in to out, annotating its entry lines from t. The
// caller flushes or closes out.
void annotate(linereader& in, writer& out, const maptable& t);
