// Fresh memory faulted in ahead of its use, on a second thread.
#ifndef NUMTALLY_SUPPORT_XT_PREFAULT_H
#define NUMTALLY_SUPPORT_XT_PREFAULT_H

#include <cstddef>

// Asks that the pages of [p, p + bytes) be faulted in for writing.  From
// 2 MiB on, where the process may use a second processor, a thread of its
// own (started by the first such request) does it and this returns at
// once, so that the cost of fresh pages (on a virtual machine about as dear
// as reading the values that fill them) overlaps the caller's work;
// otherwise it is done here.  The latest request replaces one not yet
// begun.  Advice only: the memory's content never changes.  Safe from any
// thread, and across fork (a child starts a thread of its own when it needs
// one); the thread ends and is joined at exit.
void xt_prefault(void *p, size_t bytes);

// To be called before [p, p + bytes) is given back (freed, reallocated):
// a request on it not yet begun is dropped, and one being served is waited
// for, so that the thread never touches memory that has changed hands.
// xt_realloc, xt_grow_huge and xt_free do it for their arrays.
void xt_prefault_forget(const void *p, size_t bytes);

#endif
