// Recovering an authorization code from what a person pasted.
#pragma once

#include <cstddef>

inline constexpr size_t kCodeCap = 2048;

// 1 when text can go to the login CLI as a code: 1 to 2048 bytes, no control
// bytes, DEL, percent sign or shell characters " $ & ' ; < > \ ` |.
int code_valid(const char* text);

// What a pasted text holds.
enum class pasted {
  code,           // a code for code_valid to judge
  sign_in_error,  // an error= parameter: the sign-in was declined or failed
  no_code,        // an address ("://") without a code= value
};

// Reads a pasted text (raw, still percent-encoded) in place: percent-decoding,
// trailing blanks, then an error= parameter (its value left in text: letters,
// digits, - . _, at most 64), else the value of "code=" with everything from
// the first "#" dropped.
pasted read_pasted(char text[kCodeCap]);
