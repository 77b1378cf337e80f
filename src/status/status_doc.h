// The status document: a status record written out as JSON members.
#pragma once

#include "status/status_rec.h"
#include "support/buf.h"

// Appends the record's members, "logged_in" through the accounts array, with no
// braces, blanks or line ends around them.
void emit_status(buf* b, const status_rec* rec);
