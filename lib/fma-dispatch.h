// Which build of the exact-sum arithmetic runs: with the fused multiply-add
// for the error of a product, or without it (Dekker's product).  Both give
// the same exact errors; a loop compiled in both builds runs the one
// tally_use_fma() chose.
#ifndef NUMTALLY_LIB_FMA_DISPATCH_H
#define NUMTALLY_LIB_FMA_DISPATCH_H

// Where the processor may lack FMA, both builds exist and the choice is
// made at run time; -DTALLYF_NO_FMA_DISPATCH (and sanitizer builds) keep the
// plain build alone, so that its sums can be tested on any machine.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TALLYF_NO_FMA_DISPATCH 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TALLYF_NO_FMA_DISPATCH 1
#endif
#if defined(__x86_64__) && defined(__GNUC__) && !defined(TALLYF_NO_FMA_DISPATCH)
#define TALLY_FMA_DISPATCH 1
#endif

// True when the fused build runs here (decided once).
bool tally_use_fma();

#endif
