// Support layer: memory that never comes back null, the delimited-field reader
// and the double ordering used to sort value arrays.
#ifndef NUMTALLY_SUPPORT_XT_H
#define NUMTALLY_SUPPORT_XT_H

#include <cstddef>
#include <cstdio>

// Exit status used when memory runs out (EX_OSERR), and the run's message.
inline constexpr int XT_EXIT_NOMEM = 71;
inline constexpr char XT_NOMEM_MESSAGE[] = "numtally: out of memory\n";

// Allocates room for count elements of size bytes each.  Never returns null:
// on overflow or exhaustion throws std::bad_alloc, as operator new does, for
// the caller to turn into its error (status 71, XT_NOMEM_MESSAGE).
void *xt_malloc(size_t count, size_t size);

// Resizes ptr (from xt_malloc/xt_realloc, or null) to count elements of size
// bytes, keeping the old contents.  Never returns null; throws as above,
// ptr left as it was.
void *xt_realloc(void *ptr, size_t count, size_t size);

// As xt_realloc, for an array that grows large: from 4 MiB on, the new
// array starts on a 2 MiB boundary in pages the system is asked to back with
// huge pages, and the first used elements (at most count) are copied.  The
// block is reserved well beyond count (at least 256 MiB of address space, 4
// times count past that; only what is written takes memory), and a block
// that already has the room is returned as it is: an array that keeps
// doubling is copied a few times in its life, not at every doubling.  The
// result is freed or reallocated as any other; used is at most the old
// size.  (A fresh small page costs a fault, which a virtual machine makes
// dear: 80 MB of values would take 20,000 of them; a copy writes as many
// fresh pages again.)
void *xt_grow_huge(void *ptr, size_t used, size_t count, size_t size);

// Frees ptr (from the calls above, or null) once no prefault request
// (xt-prefault.h) is left on it: the way to give back a value array that
// was fed, from any thread.
void xt_free(void *ptr);

// Reads the next field of stream into buf (NUL-terminated, at most size - 1
// bytes kept; the bytes of buf after the terminator may change) and stores
// the field's full length in *len, which exceeds size - 1 when the field was
// cut short: the rest of a long field is consumed.
// Every character of delims ends a field; a newline always does.  When space
// is a delimiter a run of spaces is one delimiter, and spaces at the start or
// end of a line make no field.  CR LF ends a line like LF.  A last line
// without a newline ends as if it had one.  Returns the character that ended
// the field ('\n' for every line end), or -1 when no field is left; an empty
// line comes back as an empty field ended by '\n'.
int xt_dsv_read_field(FILE *stream, char *buf, size_t size, const char *delims,
                      size_t *len);

// Consumes up to count fields of stream exactly as that many calls of
// xt_dsv_read_field with delims would, without keeping them, and stops after
// a field that ends its line.  Stores the number of fields consumed in
// *skipped and returns what ended the last of them, or -1 when the input
// ended first (and when count is 0).
int xt_dsv_skip_fields(FILE *stream, const char *delims, size_t count,
                       size_t *skipped);

// Consumes the rest of the current line of stream, its newline included, as
// if every field up to the line's end had been read and ignored: every line
// end that xt_dsv_read_field reports ends at a newline or at the end of
// input.  Returns '\n', or -1 when the input ended before a newline.
int xt_dsv_skip_line(FILE *stream);

// qsort comparison over doubles: ascending numbers, -0 before +0, every NaN
// after every number.  Only bit-identical values compare equal, so the sorted
// order does not depend on the sorting algorithm.
int xt_double_cmp(const void *a, const void *b);

// The strict-weak "less" of the same order, for std::sort and friends.
bool xt_double_less(double a, double b);

// Sorts count doubles in place into the order of xt_double_cmp (a radix
// sort: time linear in count, no memory beyond a few KiB of stack).
void xt_double_sort(double *values, size_t count);

// The values of the given ranks (indexes into the sorted order, ascending,
// distinct, below count, at most 64 of them) in the order of xt_double_cmp,
// written to out[0..nranks).  The values may be reordered.  Expected time
// linear in count, O(n log n) at worst; may allocate a few hundred KiB and
// the values of the buckets it selects in.
void xt_double_select(double *values, size_t count, const size_t *ranks,
                      size_t nranks, double *out);

#endif
