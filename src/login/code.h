// Recovering an authorization code from what a person pasted.
#pragma once

#include <cstddef>

inline constexpr size_t kCodeCap = 2048;

// 1 when text can go to the login CLI as a code: 1 to 2048 bytes, no control
// bytes, DEL, percent sign or shell characters " $ & ' ; < > \ ` |.
int code_valid(const char* text);

// Turns a pasted text (raw, still percent-encoded) into the code in place:
// percent-decoding, trailing blanks, the value of a redirect address's
// "code=", and everything from the first "#" dropped.
void clean_code(char text[kCodeCap]);
