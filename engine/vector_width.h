// How many pixels the engine's vector loops handle at once: one (plain
// code), four (SSE2, which every x86-64 has) or eight (AVX2, chosen at run
// time where the processor has it). Every width gives the same results bit
// for bit; the widest available is used unless a test asks for another.
#pragma once

enum class VectorWidth { One = 1, Four = 4, Eight = 8 };

bool VectorWidthAvailable(VectorWidth width);
// Chooses `width` for the whole engine; false (and no change) when the
// processor cannot do it.
bool SetVectorWidth(VectorWidth width);
VectorWidth CurrentVectorWidth();
