// Text replacement in fixed buffers. Plain values only.
#pragma once

// `source` with every occurrence of `pattern` replaced, left to right, without
// overlap and without searching the replacement again, into `result`
// (`capacity` code units, the terminator included). An empty pattern copies the
// source unchanged. False, with `result` empty, when the whole text does not
// fit: it is never cut. `result` may be `source` itself when the replacement is
// no longer than the pattern: what is written then never overtakes what is
// still to be read.
bool ReplaceAll(const wchar_t* source, const wchar_t* pattern, const wchar_t* replacement,
                wchar_t* result, int capacity);
