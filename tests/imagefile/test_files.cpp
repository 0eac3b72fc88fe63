#include "test_files.h"

#include <FreeImage.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

ScratchDir::ScratchDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() / ("quorvane-test-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

PicBufHolder Pattern(int width, int height, int components, int bits) {
    PicBufHolder p;
    CBxPicBufAPI::ReinitHeap(p.buf, width, height, components, bits);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width * components; ++i) {
            const unsigned v = unsigned(i * 37 + y * 101 + (i % components) * 53);
            if (bits == 8)
                p.buf.Row<uint8_t>(y)[i] = uint8_t(v);
            else
                p.buf.Row<uint16_t>(y)[i] = uint16_t(v * 263);
        }
    return p;
}

PicBufHolder Noise(int width, int height, unsigned seed) {
    PicBufHolder p;
    CBxPicBufAPI::ReinitHeap(p.buf, width, height, 3, 8);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width * 3; ++i) p.buf.Row<uint8_t>(y)[i] = uint8_t(random());
    return p;
}

bool SamePixels(const SBxPicBuf& a, const SBxPicBuf& b) {
    return CBxPicBufAPI::SameGeometry(a, b) && a.pixels && b.pixels &&
           std::memcmp(a.pixels, b.pixels, size_t(a.pitch) * a.height) == 0;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<unsigned char> MinimalIccProfile() {
    std::vector<unsigned char> icc(132, 0);
    const unsigned char header[] = {0, 0, 0, 132, 0, 0, 0, 0, 2, 0x10, 0, 0, 'm', 'n', 't', 'r',
                                    'R', 'G', 'B', ' ', 'X', 'Y', 'Z', ' '};
    std::memcpy(icc.data(), header, sizeof header);
    std::memcpy(icc.data() + 36, "acsp", 4);
    const unsigned char d50[12] = {0, 0, 0xf6, 0xd6, 0, 1, 0, 0, 0, 0, 0xd3, 0x2d};
    std::memcpy(icc.data() + 68, d50, 12);
    return icc;
}
