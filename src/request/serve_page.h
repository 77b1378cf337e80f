// The console page.
#pragma once

// Writes the page: its header block, then the template with the theme blocks
// in place. Returns the exit status, 0.
int serve_page();
