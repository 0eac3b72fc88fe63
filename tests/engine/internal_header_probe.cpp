// Compiled with only the engine's public include path, as cli/, app/ and
// bench/ are: the build of this file must fail to find PROBE_HEADER.
#include PROBE_HEADER

int main() { return 0; }
