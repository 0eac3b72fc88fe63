// Golden results: small crops of real photographs run through each method at
// its defaults and at extreme settings, compared sample for sample with the
// results committed under tests/data/golden/. Only scripts/golden writes
// those files; the tests read them.
#pragma once

#include <string>
#include <vector>

#include "picbuf.h"

enum class GoldenMethod { Original, Smudge, Redraw };

struct GoldenCase {
    std::string name;        // also the expected file's name, without extension
    GoldenMethod method;
    std::string input;       // file under tests/data/golden/
    std::vector<int> positions;  // the method's slider positions, in its table order
    int tiledWidth = 0, tiledHeight = 0;  // non-zero: the input mirrored out to this size
};

// Results of pictures this size are pinned by a digest instead of a file.
inline bool PinnedByDigest(const GoldenCase& c) { return c.tiledWidth > 0; }

std::vector<GoldenCase> GoldenCases();
// The expected file of a case: <name>.pgm or <name>.ppm by component count.
std::string ExpectedFileName(const GoldenCase& c, int components);

// Binary PNM (P5 grey, P6 colour, 8 or 16 bits). Colour files are red,
// green, blue; picture buffers blue, green, red. False when unreadable.
bool ReadPnm(const std::string& path, PicBufHolder& picture);
bool WritePnm(const std::string& path, const SBxPicBuf& picture);

// The case's input (mirrored out when the case asks for a large picture).
bool LoadGoldenInput(const std::string& dir, const GoldenCase& c, PicBufHolder& picture);
// Runs the case's method on `input` with the engine at `threads` threads;
// false when the method does not report success.
bool RunGoldenCase(const GoldenCase& c, const SBxPicBuf& input, int threads, PicBufHolder& result);
// Redraw as its two steps: the edge map of the whole picture, then the
// drawing with it. Must equal the one-call run.
bool RunRedrawInTwoSteps(const GoldenCase& c, const SBxPicBuf& input, PicBufHolder& result);

// SHA-256 of the samples, with the geometry in front, as lower-case hex.
std::string PictureDigest(const SBxPicBuf& picture);
// "name digest" lines of the digest file; empty when it cannot be read.
std::vector<std::pair<std::string, std::string>> ReadDigests(const std::string& path);

// Samples that differ and the largest difference, for messages.
struct Difference {
    bool sameGeometry = false;
    long differing = 0;
    int largest = 0;
    int firstX = -1, firstY = -1, firstComponent = -1;
};
Difference Compare(const SBxPicBuf& expected, const SBxPicBuf& actual);
std::string Describe(const Difference& d);
