// Recomputes the golden results into tests/data/golden/ and says, case by
// case, what changed. Run through scripts/golden, on purpose, when a result
// is meant to change; commit the files with the reason.
#include <cstdio>
#include <fstream>
#include <map>

#include "golden.h"

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : QUORVANE_GOLDEN_DIR;
    std::map<std::string, std::string> oldDigests;
    for (const auto& [name, digest] : ReadDigests(dir + "/digests.txt")) oldDigests[name] = digest;
    std::map<std::string, std::string> digests;
    int changed = 0, failed = 0;
    for (const GoldenCase& c : GoldenCases()) {
        PicBufHolder input, result;
        if (!LoadGoldenInput(dir, c, input) || !RunGoldenCase(c, input.buf, 1, result)) {
            std::printf("%-40s FAILED to run\n", c.name.c_str());
            if (oldDigests.count(c.name)) digests[c.name] = oldDigests[c.name];
            ++failed;
            continue;
        }
        std::string verdict;
        if (PinnedByDigest(c)) {
            digests[c.name] = PictureDigest(result.buf);
            const auto old = oldDigests.find(c.name);
            verdict = old == oldDigests.end() ? "new" : old->second == digests[c.name] ? "identical" : "changed";
        } else {
            const std::string path = dir + "/" + ExpectedFileName(c, result.buf.components);
            PicBufHolder old;
            verdict = ReadPnm(path, old) ? Describe(Compare(old.buf, result.buf)) : "new";
            if (verdict != "identical" && !WritePnm(path, result.buf)) {
                std::printf("%-40s cannot write %s\n", c.name.c_str(), path.c_str());
                ++failed;
                continue;
            }
        }
        if (verdict != "identical") ++changed;
        std::printf("%-40s %s\n", c.name.c_str(), verdict.c_str());
    }
    std::ofstream out(dir + "/digests.txt");
    for (const auto& [name, digest] : digests) out << name << " " << digest << "\n";
    std::printf("%d of %zu results changed%s\n", changed, GoldenCases().size(), failed ? ", some FAILED" : "");
    return failed ? 1 : 0;
}
