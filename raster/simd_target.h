// The instruction set of the engine's SIMD code (the row sampler here, the
// fast kernel in warp/). Highway picks the widest one this processor runs;
// the environment variable TAVROSK_TARGET, set to one of Highway's names
// (AVX3, AVX2, SSE4, SSSE3, SCALAR; case does not matter), makes every
// program run that one instead, for tests and measurements. Every
// instruction set gives the same bits, so the variable changes only speed.
#pragma once

// Applies TAVROSK_TARGET once in the process, before the first SIMD call;
// every SIMD entry of the engine calls it first. Thread-safe. A test that
// forces a target itself (hwy::SetSupportedTargetsForTest) overrides the
// variable from then on.
void simd_target_init();

// What became of TAVROSK_TARGET: "" when it is unset or empty, otherwise a
// phrase for a version line, "forced by TAVROSK_TARGET" or
// "TAVROSK_TARGET=NAME ignored: not an instruction set this processor runs".
const char* simd_target_note();
