// Input text as a message quotes it: readable whatever bytes it holds, and
// short.
#ifndef NUMTALLY_SUPPORT_TEXT_ESCAPE_H
#define NUMTALLY_SUPPORT_TEXT_ESCAPE_H

#include <cstddef>

// Bytes of the input that a message shows at most.
inline constexpr size_t XT_ESCAPE_KEEP = 64;

// Room that xt_escape_text may fill: four characters per byte shown, then
// "..." and the terminator.
inline constexpr size_t XT_ESCAPE_ROOM = XT_ESCAPE_KEEP * 4 + 4;

// Writes the len bytes at text into out (XT_ESCAPE_ROOM bytes) as a message
// shows them, NUL-terminated, and returns out.  Printable ASCII and valid
// UTF-8 characters stand as they are; tab, newline and CR as "\t", "\n",
// "\r"; every other control byte (C1 controls included) and every byte
// that is not part of a valid UTF-8 character as "\xhh".  Only whole
// characters among the first XT_ESCAPE_KEEP bytes are shown; when there is
// more, "..." follows.  Reads at most XT_ESCAPE_KEEP + 3 bytes of text.
const char *xt_escape_text(const char *text, size_t len, char *out);

#endif
