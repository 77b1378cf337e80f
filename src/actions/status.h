// The answers that carry a status document.
#pragma once

#include "status/status_rec.h"

// Writes a success: the JSON headers, then opening, the record's members and
// closing as one body. Returns the exit status, 0.
int answer_status(const char* opening, const status_rec* rec, const char* closing);
