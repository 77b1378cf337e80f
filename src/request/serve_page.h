// The console page.
#pragma once

// Writes the page: its header block, then the template with the theme blocks
// in place. Returns the exit status, 0.
int serve_page();

// Writes the 401 answer to a browser that asked for the page without the node
// password: a page in the console's look that asks for it.
void serve_password_page();
