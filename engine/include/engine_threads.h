// How many threads the repaint methods use. Results are the same whatever
// the number.
#pragma once

// Threads used by the engine's loops (and by the filters of the image
// library it calls); 0 means all cores.
void SetEngineThreads(int threads);
int EngineThreads();
