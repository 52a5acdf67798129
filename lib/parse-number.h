// Strict conversions of input fields and command-line numbers.
#ifndef NUMTALLY_LIB_PARSE_NUMBER_H
#define NUMTALLY_LIB_PARSE_NUMBER_H

#include <cstddef>
#include <cstdint>

// Converts the len bytes at s (NUL-terminated after them) exactly as strtod
// does and succeeds only when strtod would consume all len bytes: the same
// value, bit for bit, on every text strtod accepts.  Empty text is 0.
bool parse_field_double(const char *s, size_t len, double *out);

// The same conversion, for a text whose buffer may be read for 17 bytes from
// s whatever len is (a field buffer of 4096 bytes, say): short decimals are
// then read eight bytes at a time.
bool parse_padded_field_double(const char *s, size_t len, double *out);

// Converts a whole decimal argument as strtoul does, refusing what strtoul
// leaves unconsumed, negative numbers and numbers above 4294967295.  Leading
// white space and a sign are allowed; the empty text is 0.
bool parse_uint32_arg(const char *s, uint32_t *out);

#endif
