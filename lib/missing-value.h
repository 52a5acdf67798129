// Which field texts stand for a missing value.
#ifndef NUMTALLY_LIB_MISSING_VALUE_H
#define NUMTALLY_LIB_MISSING_VALUE_H

#include <cstddef>
#include <cstring>

// True when the len bytes at field are a missing value as --skip-missing
// takes them: the empty field, or exactly NA, N/A, NaN, nan, NULL or null.
inline bool is_missing_value(const char *field, size_t len)
{
    switch (len) {
    case 0:
        return true;
    case 2:
        return field[0] == 'N' && field[1] == 'A';
    case 3:
        return std::memcmp(field, "N/A", 3) == 0 ||
               std::memcmp(field, "NaN", 3) == 0 ||
               std::memcmp(field, "nan", 3) == 0;
    case 4:
        return std::memcmp(field, "NULL", 4) == 0 ||
               std::memcmp(field, "null", 4) == 0;
    default:
        return false;
    }
}

#endif
