// The console's constant texts, generated at build time from assets/ (see
// cmake/embed.cmake). Each array ends with a NUL that _len does not count.
#pragma once

#include <cstddef>

// The CGI header block of the page, CR LF line ends and the empty line included.
extern const unsigned char html_headers[];
extern const size_t html_headers_len;

// The page, with the byte 0x01 where theme_head goes and 0x02 where theme_tail goes.
extern const unsigned char page_template[];
extern const size_t page_template_len;

// The page that asks for the node password, with the same two markers.
extern const unsigned char password_template[];
extern const size_t password_template_len;

// The theme bootstrap script and the shared style sheet.
extern const unsigned char theme_head[];
extern const size_t theme_head_len;

// The theme protocol script and the toggle wiring.
extern const unsigned char theme_tail[];
extern const size_t theme_tail_len;
