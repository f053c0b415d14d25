// For loops over bytes that make no decisions (a CRC, hexadecimal cells): clang's fuzzing builds
// leave them out of coverage instrumentation. Their compares would guide the fuzzer nowhere, and the
// line decoders run them at nearly every offset, where they cost the decoders' fuzz targets a fifth
// of their time. Memory checks stay.
#pragma once

#if defined(__clang__)
#define RQ735_BYTE_LOOP __attribute__((no_sanitize("coverage")))
#else
#define RQ735_BYTE_LOOP
#endif

// The same for a loop that passes over the offsets where no frame starts: its decisions would tell
// the fuzzer only how long the input is. The frame parsers it hands the other offsets keep theirs.
// Never inlined: inlined, it would be instrumented as part of its caller.
#if defined(__clang__)
#define RQ735_SCAN_LOOP __attribute__((no_sanitize("coverage"), noinline))
#else
#define RQ735_SCAN_LOOP
#endif
