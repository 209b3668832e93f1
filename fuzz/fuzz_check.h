// A failed property ends the fuzzer's run like a crash, so that libFuzzer keeps the input; each
// target prints what broke first.
#pragma once

#include <cstdlib>

#define FUZZ_CHECK(ok) ((ok) ? void() : std::abort())
