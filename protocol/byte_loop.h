// For loops over bytes whose decisions guide the fuzzer nowhere (a CRC, hexadecimal cells, decimal
// digits, the length of a run, the offsets where no frame starts): clang's fuzzing builds leave
// them out of coverage instrumentation. Their compares would only tell how long the input is, and
// the line decoders run them at nearly every offset, where they cost the decoders' fuzz targets a
// fifth of their time. Memory checks stay. Never inlined: inlined, a loop would be instrumented as
// part of its caller.
#pragma once

#if defined(__clang__)
#define RQ735_BYTE_LOOP __attribute__((no_sanitize("coverage"), noinline))
#else
#define RQ735_BYTE_LOOP
#endif
