#include "file_header.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "imagefile.h"

namespace {

// The file read on demand, 64 KiB at a time: a header may point anywhere in
// a large file (a TIFF directory at its end, a JPEG frame after megabytes of
// embedded profiles) and only the parts looked at are read.
class Head {
public:
    explicit Head(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {
        if (!file_) return;
        if (std::fseek(file_, 0, SEEK_END) == 0) {
            const long size = std::ftell(file_);
            if (size >= 0) fileSize = uint64_t(size);
        }
    }
    ~Head() {
        if (file_) std::fclose(file_);
    }
    Head(const Head&) = delete;
    Head& operator=(const Head&) = delete;

    bool Open() const { return file_ != nullptr; }
    uint64_t fileSize = 0;

    bool Has(uint64_t at, uint64_t n) const { return at <= fileSize && n <= fileSize - at; }
    unsigned char operator[](uint64_t at) const {
        const uint64_t page = at / kPage;
        auto found = pages_.find(page);
        if (found == pages_.end()) {
            std::vector<unsigned char> bytes(kPage, 0);
            if (std::fseek(file_, long(page * kPage), SEEK_SET) == 0) bytes.resize(std::fread(bytes.data(), 1, kPage, file_));
            bytes.resize(kPage, 0);
            found = pages_.emplace(page, std::move(bytes)).first;
        }
        return found->second[at % kPage];
    }
    uint32_t Le(uint64_t at, int n) const {
        uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = (v << 8) | (*this)[at + uint64_t(i)];
        return v;
    }
    uint32_t Be(uint64_t at, int n) const {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = (v << 8) | (*this)[at + uint64_t(i)];
        return v;
    }
    uint64_t Le64(uint64_t at) const { return uint64_t(Le(at, 4)) | uint64_t(Le(at + 4, 4)) << 32; }
    uint64_t Be64(uint64_t at) const { return uint64_t(Be(at, 4)) << 32 | Be(at + 4, 4); }
    bool Matches(uint64_t at, const char* magic, size_t n) const {
        if (!Has(at, n)) return false;
        for (size_t i = 0; i < n; ++i)
            if ((*this)[at + i] != static_cast<unsigned char>(magic[i])) return false;
        return true;
    }

private:
    static constexpr uint64_t kPage = 64 * 1024;
    std::FILE* file_;
    mutable std::map<uint64_t, std::vector<unsigned char>> pages_;
};

FileHeader Refuse(FileHeader h, const std::string& why, LoadFailure failure = LoadFailure::Damaged) {
    h.accepted = false;
    h.refusal = why;
    h.failure = failure;
    return h;
}

// The checks every format shares once its size is known.
FileHeader Accept(FileHeader h, uint64_t neededBytes = 0, uint64_t fileSize = 0) {
    if (h.width == 0 || h.height == 0) return Refuse(h, "the file's header gives no picture size");
    if (h.width > 0x7fffffff || h.height > 0x7fffffff || h.width * h.height > kMaxPixels)
        return Refuse(h,
                      "the picture is too large (" + std::to_string(h.width) + " x " + std::to_string(h.height) +
                          " pixels)",
                      LoadFailure::TooLarge);
    if (neededBytes > fileSize) return Refuse(h, "the file is truncated");
    h.accepted = true;
    return h;
}

uint64_t BmpStride(uint64_t width, unsigned bits) { return (width * bits + 31) / 32 * 4; }

// Windows headers (40, 52, 56, 108, 124 bytes) and OS/2 ones (12 bytes with
// 16-bit sizes; 16 to 64 bytes with the Windows layout).
FileHeader ReadBmp(const Head& in) {
    FileHeader h;
    h.format = kFormatBmp;
    if (!in.Has(14, 4)) return Refuse(h, "the file is truncated");
    const uint32_t headerSize = in.Le(14, 4);
    const uint64_t dataOffset = in.Le(10, 4);
    const bool os2v1 = headerSize == 12;
    const bool known = os2v1 || (headerSize >= 16 && headerSize <= 64) || headerSize == 108 || headerSize == 124;
    if (!known) return Refuse(h, "the BMP header is damaged");
    if (!in.Has(14, headerSize)) return Refuse(h, "the file is truncated");
    int64_t height;
    uint32_t compression = 0;
    if (os2v1) {
        h.width = in.Le(18, 2);
        height = in.Le(20, 2);
        h.bitsPerPixel = in.Le(24, 2);
    } else {
        h.width = in.Le(18, 4);
        height = int32_t(in.Le(22, 4));
        h.bitsPerPixel = in.Le(28, 2);
        if (headerSize >= 20) compression = in.Le(30, 4);
        if (int32_t(in.Le(18, 4)) < 0) return Refuse(h, "the BMP header is damaged");
    }
    h.height = uint64_t(height < 0 ? -height : height);
    if (compression == 4 || compression == 5) return Refuse(h, "BMP files holding a JPEG or PNG are not supported", LoadFailure::Unsupported);
    switch (h.bitsPerPixel) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: return Refuse(h, "the BMP header is damaged");
    }
    if (dataOffset >= in.fileSize) return Refuse(h, "the file is truncated");
    // Uncompressed rows (plain, or with colour masks) have a known length;
    // run-length data can be shorter than its picture, but must be of the
    // depth it codes and within the file when its length is given.
    const bool rawRows = compression == 0 || compression == 3 || compression == 6;
    if (!rawRows) {
        const bool runLength = !os2v1 && (compression == 1 || compression == 2);
        if (runLength && h.bitsPerPixel != (compression == 1 ? 8u : 4u))
            return Refuse(h, "the BMP header is damaged");
        const uint64_t dataSize = headerSize >= 24 ? in.Le(34, 4) : 0;
        if (runLength && dataSize > in.fileSize - dataOffset) return Refuse(h, "the file is truncated");
        return Accept(h);
    }
    if (h.width > 0x7fffffff || h.height > 0x7fffffff) return Accept(h);
    return Accept(h, dataOffset + BmpStride(h.width, h.bitsPerPixel) * h.height, in.fileSize);
}

FileHeader ReadPng(const Head& in) {
    FileHeader h;
    h.format = kFormatPng;
    if (!in.Has(8, 25) || !in.Matches(12, "IHDR", 4))
        return Refuse(h, "the PNG header is damaged");
    h.width = in.Be(16, 4);
    h.height = in.Be(20, 4);
    const unsigned depth = in[24], colour = in[25];
    const unsigned channels = colour == 2 ? 3 : colour == 4 ? 2 : colour == 6 ? 4 : 1;
    h.bitsPerPixel = depth * channels;
    h = Accept(h);
    if (!h.accepted) return h;
    // The rows (each with its filter byte) come out of one Deflate stream in
    // the IDAT chunks, which cannot expand more than 1032 times.
    // Only as many chunks are looked at as it takes to find enough of them.
    const uint64_t needed = ((h.width * h.bitsPerPixel + 7) / 8 + 1) * h.height / 1032;
    uint64_t coded = 0;
    for (uint64_t at = 8; coded < needed && in.Has(at, 12) && !in.Matches(at + 4, "IEND", 4);) {
        const uint64_t length = in.Be(at, 4);
        if (in.Matches(at + 4, "IDAT", 4)) coded += std::min(length, in.fileSize - (at + 8));
        at += 12 + length;
    }
    return coded < needed ? Refuse(h, "the file is truncated") : h;
}

// A JPEG codes each 8 × 8 block of its largest component in at least one bit
// (the DC difference), so its data cannot be shorter than one byte for eight
// blocks; anything far below that only claims its size.
constexpr uint64_t kJpegPixelsPerByte = 8 * 64 * 8;

FileHeader ReadJpeg(const Head& in) {
    FileHeader h;
    h.format = kFormatJpeg;
    uint64_t at = 2;
    // A frame comes after at most a few hundred segments.
    for (int segment = 0; segment < 10000 && in.Has(at, 4); ++segment) {
        if (in[at] != 0xFF) return Refuse(h, "the JPEG header is damaged");
        const unsigned marker = in[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            at += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) break;  // no frame before the data
        const uint64_t length = in.Be(at + 2, 2);
        if (length < 2) return Refuse(h, "the JPEG header is damaged");
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (!in.Has(at + 4, 6)) return Refuse(h, "the file is truncated");
            h.height = in.Be(at + 5, 2);
            h.width = in.Be(at + 7, 2);
            h.bitsPerPixel = in[at + 4] * unsigned(in[at + 9]);
            if (h.height == 0) return Refuse(h, "the JPEG header gives no picture height");
            return Accept(h, h.width * h.height / kJpegPixelsPerByte, in.fileSize);
        }
        at += 2 + length;
    }
    return Refuse(h, in.Has(at, 4) ? "the JPEG file has no picture" : "the file is truncated");
}

struct TiffReader {
    const Head& in;
    bool little, big;
    uint32_t U16(uint64_t at) const { return little ? in.Le(at, 2) : in.Be(at, 2); }
    uint32_t U32(uint64_t at) const { return little ? in.Le(at, 4) : in.Be(at, 4); }
    uint64_t U64(uint64_t at) const { return little ? in.Le64(at) : in.Be64(at); }
    uint64_t Offset(uint64_t at) const { return big ? U64(at) : U32(at); }
    // The first value of an entry, when it is stored in the entry itself.
    uint64_t Value(uint64_t entry) const {
        const uint32_t type = U16(entry + 2);
        const uint64_t field = entry + (big ? 12 : 8);
        if (type == 3) return U16(field);
        if (type == 4) return U32(field);
        if (type == 16) return U64(field);
        return 0;
    }
};

// An array of offsets or byte counts in a TIFF directory entry.
struct TiffArray {
    bool present = false;
    uint32_t type = 0;
    uint64_t count = 0, at = 0;  // `at`: where the values are, in the entry or elsewhere
};

TiffArray ReadTiffArray(const TiffReader& r, uint64_t entry) {
    TiffArray a;
    a.present = true;
    a.type = r.U16(entry + 2);
    a.count = r.big ? r.U64(entry + 4) : r.U32(entry + 4);
    const uint64_t size = a.type == 3 ? 2 : a.type == 4 ? 4 : a.type == 16 ? 8 : 0;
    const uint64_t field = entry + (r.big ? 12 : 8), inEntry = r.big ? 8 : 4;
    a.at = size && a.count <= inEntry / size ? field : r.Offset(field);
    if (!size) a.count = 0;
    return a;
}

uint64_t TiffArraySize(const TiffArray& a) { return a.type == 3 ? 2 : a.type == 4 ? 4 : 8; }

uint64_t Element(const TiffReader& r, const TiffArray& a, uint64_t i) {
    const uint64_t at = a.at + i * TiffArraySize(a);
    return a.type == 3 ? r.U16(at) : a.type == 4 ? r.U32(at) : r.U64(at);
}

// The strips or tiles of the picture must all be in the file: their offsets
// and (where given) their coded lengths are checked before any decoder reads
// them. What their coded bytes expand to is bounded by their compression
// (see CanCodePicture).
constexpr uint64_t kMostBlocksChecked = uint64_t(1) << 20;

struct TiffBlocks {
    uint64_t count = 0;
    const TiffArray* offsets = nullptr;
    const TiffArray* lengths = nullptr;
};

// The coded bytes of all blocks together (0 when that is not known).
FileHeader CheckTiffBlocks(FileHeader h, const TiffReader& r, const TiffBlocks& b, uint64_t& coded) {
    const uint64_t size = r.in.fileSize;
    const TiffArray& offsets = *b.offsets;
    const TiffArray& counts = *b.lengths;
    coded = 0;
    if (!offsets.present) return Refuse(h, "the TIFF file has no picture data");
    if (offsets.count < b.count || offsets.type == 0 ||
        (counts.present && counts.count >= b.count && counts.type == 0))
        return Refuse(h, "the TIFF directory is damaged");
    const bool withCounts = counts.present && counts.count >= b.count;
    for (const TiffArray* a : {&offsets, withCounts ? &counts : nullptr})
        if (a && !r.in.Has(a->at, a->count * TiffArraySize(*a))) return Refuse(h, "the file is truncated");
    if (b.count > kMostBlocksChecked) return h;
    // Without lengths a decoder takes each block to run on to the next one
    // or to the end of the file: together no more than the file.
    if (!withCounts) coded = size;
    for (uint64_t i = 0; i < b.count; ++i) {
        const uint64_t offset = Element(r, offsets, i);
        const uint64_t length = withCounts ? Element(r, counts, i) : 0;
        if (offset > size || length > size - offset) return Refuse(h, "the file is truncated");
        if (withCounts) coded += length;
    }
    return h;
}

// The most bytes one coded byte of a TIFF compression can stand for, with
// room to spare: a code of LZW (at least 9 bits) for at most 4096 bytes;
// Deflate 258 bytes in two bits; PackBits 128 bytes in two; JPEG at least a
// bit for each block of 8 x 8 samples. Other compressions get a bound no
// real photograph comes near.
uint64_t MostBytesPerCodedByte(uint64_t compression, uint64_t bytesPerPixel) {
    switch (compression) {
    case 5: return 4096;              // LZW
    case 8: case 32946: return 1032;  // Deflate
    case 32773: return 64;            // PackBits
    case 7: return kJpegPixelsPerByte * bytesPerPixel;
    default: return uint64_t(1) << 16;
    }
}

// False when the picture needs more bytes than its coded data can give at
// the compression's best. Pictures of one bit a pixel (fax codings, whose
// white rows take a few bits) are small at any size and not checked.
bool CanCodePicture(const FileHeader& h, uint64_t compression, uint64_t bitsPerSample, uint64_t samples,
                    uint64_t blocks, uint64_t coded) {
    if (compression == 1 || coded == 0 || bitsPerSample * samples <= 1) return true;
    const uint64_t picture = (h.width * bitsPerSample * samples + 7) / 8 * h.height;
    const uint64_t ratio = MostBytesPerCodedByte(compression, (bitsPerSample * samples + 7) / 8);
    // Every block may end in a partly used byte.
    return picture / ratio <= coded + blocks;
}

FileHeader ReadTiff(const Head& in) {
    FileHeader h;
    h.format = kFormatTiff;
    const TiffReader r{in, in[0] == 'I', in[2] == 43 || in[3] == 43};
    h.littleEndian = r.little;
    if (!in.Has(0, r.big ? 16 : 8)) return Refuse(h, "the file is truncated");
    const uint64_t ifd = r.Offset(r.big ? 8 : 4);
    const size_t countBytes = r.big ? 8 : 2, entryBytes = r.big ? 20 : 12;
    if (!in.Has(ifd, countBytes)) return Refuse(h, "the file is truncated");
    const uint64_t entries = r.big ? r.U64(ifd) : r.U16(ifd);
    if (entries == 0 || entries > 4096) return Refuse(h, "the TIFF directory is damaged");
    uint64_t bitsPerSample = 1, samples = 1, compression = 1, photometric = 2, rowsPerStrip = 0, planar = 1;
    uint64_t tileWidth = 0, tileLength = 0;
    bool saysRgb = false;
    TiffArray stripOffsets, stripCounts, tileOffsets, tileCounts;
    for (uint64_t i = 0; i < entries; ++i) {
        const uint64_t e = ifd + countBytes + i * entryBytes;
        if (!in.Has(e, entryBytes)) return Refuse(h, "the file is truncated");
        const uint32_t count = r.big ? uint32_t(r.U64(e + 4)) : r.U32(e + 4);
        switch (r.U16(e)) {
        case 256: h.width = r.Value(e); break;
        case 257: h.height = r.Value(e); break;
        case 258: bitsPerSample = count == 1 ? r.Value(e) : 8; break;  // several values: assume the usual
        case 259: compression = r.Value(e); break;
        case 262:
            photometric = r.Value(e);
            saysRgb = photometric == 2;
            break;
        case 273: stripOffsets = ReadTiffArray(r, e); break;
        case 277: samples = r.Value(e); break;
        case 278: rowsPerStrip = r.Value(e); break;
        case 279: stripCounts = ReadTiffArray(r, e); break;
        case 284: planar = r.Value(e); break;
        case 322: tileWidth = r.Value(e); break;
        case 323: tileLength = r.Value(e); break;
        case 324: tileOffsets = ReadTiffArray(r, e); break;
        case 325: tileCounts = ReadTiffArray(r, e); break;
        case 34675: h.tiffProfileTagAt = e; break;
        }
    }
    h.bitsPerPixel = unsigned(bitsPerSample * samples);
    // A picture said to be RGB with fewer than three samples per pixel
    // brings the TIFF decoder down.
    if (bitsPerSample == 0 || bitsPerSample > 64 || samples == 0 || samples > 16 || (saysRgb && samples < 3))
        return Refuse(h, "the TIFF directory is damaged");
    // The TIFF decoder reads such pixels past its buffers (eight one-bit
    // samples took it down); grey with alpha has a reader of its own.
    if (bitsPerSample < 8 && samples > 2)
        return Refuse(h, "TIFF pictures with several samples of fewer than 8 bits each are not supported");
    h.greyWithAlpha = samples == 2 && photometric <= 1;
    // Uncompressed pixels must all be in the file.
    const uint64_t raw = compression == 1 && h.width * h.height <= kMaxPixels
                             ? (h.width * bitsPerSample * samples + 7) / 8 * h.height
                             : 0;
    h = Accept(h, raw, in.fileSize);
    if (!h.accepted) return h;
    // Old-style JPEG data may be found through its own tags instead.
    if (compression == 6 && !stripOffsets.present && !tileOffsets.present) return h;
    const uint64_t planes = planar == 2 ? samples : 1;
    TiffBlocks blocks{0, &stripOffsets, &stripCounts};
    if (tileOffsets.present || tileWidth || tileLength) {
        if (tileWidth == 0 || tileLength == 0) return Refuse(h, "the TIFF directory is damaged");
        const uint64_t across = (h.width + tileWidth - 1) / tileWidth, down = (h.height + tileLength - 1) / tileLength;
        blocks = {across * down * planes, &tileOffsets, &tileCounts};
    } else {
        const uint64_t rows = rowsPerStrip == 0 || rowsPerStrip > h.height ? h.height : rowsPerStrip;
        blocks.count = (h.height + rows - 1) / rows * planes;
    }
    uint64_t coded = 0;
    h = CheckTiffBlocks(h, r, blocks, coded);
    if (h.accepted && !CanCodePicture(h, compression, bitsPerSample, samples, blocks.count, coded))
        return Refuse(h, "the file is truncated");
    return h;
}

constexpr uint64_t kMaxPnmHeader = 64 * 1024;

FileHeader ReadPnm(const Head& in) {
    FileHeader h;
    const char kind = char(in[1]);
    static const int formats[] = {kFormatPbm, kFormatPgm, kFormatPpm, kFormatPbmRaw, kFormatPgmRaw, kFormatPpmRaw};
    h.format = formats[kind - '1'];
    const bool bitmap = kind == '1' || kind == '4';
    const uint64_t samples = kind == '3' || kind == '6' ? 3 : 1;
    // Width, height and (except for bitmaps) the largest sample value,
    // separated by blanks and comments; one blank ends the header.
    uint64_t values[3] = {0, 0, 0};
    const int wanted = bitmap ? 2 : 3;
    uint64_t at = 2;
    for (int v = 0; v < wanted; ++v) {
        for (;;) {
            if (!in.Has(at, 1)) return Refuse(h, "the file is truncated");
            if (at > kMaxPnmHeader) return Refuse(h, "the PNM header is damaged");
            const unsigned char c = in[at];
            if (c == '#') {
                // Readers disagree on whether a lone carriage return ends a
                // comment; such a header can be read as another picture.
                while (in.Has(at, 1) && in[at] != '\n' && in[at] != '\r') ++at;
                if (in.Has(at + 1, 1) && in[at] == '\r' && in[at + 1] != '\n')
                    return Refuse(h, "the PNM header is damaged");
            } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
                ++at;
            } else {
                break;
            }
        }
        if (in[at] < '0' || in[at] > '9') return Refuse(h, "the PNM header is damaged");
        while (in.Has(at, 1) && in[at] >= '0' && in[at] <= '9') {
            values[v] = values[v] * 10 + (in[at++] - '0');
            if (values[v] > 0xffffffffULL) return Refuse(h, "the PNM header is damaged");
        }
        // A comment right after a number is another point readers disagree
        // on: some take the '#' as the number's end and read on.
        if (in.Has(at, 1) && in[at] == '#') return Refuse(h, "the PNM header is damaged");
    }
    if (!in.Has(at, 1)) return Refuse(h, "the file is truncated");
    ++at;  // the single blank before the pixels
    h.width = values[0];
    h.height = values[1];
    const uint64_t maxValue = bitmap ? 1 : values[2];
    if (maxValue == 0 || maxValue > 65535) return Refuse(h, "the PNM header is damaged");
    const uint64_t bytesPerSample = maxValue > 255 ? 2 : 1;
    h.bitsPerPixel = bitmap ? 1 : unsigned(samples * bytesPerSample * 8);
    if (h.width * h.height > kMaxPixels) return Accept(h);
    const uint64_t count = h.width * h.height * samples;
    uint64_t needed;
    if (kind == '4')
        needed = (h.width + 7) / 8 * h.height;
    else if (kind >= '5')
        needed = count * bytesPerSample;
    else  // text: a digit per sample, and a blank between numbers except in bitmaps
        needed = bitmap ? count : 2 * count - 1;
    return Accept(h, at + needed, in.fileSize);
}

}  // namespace

FileHeader ReadFileHeader(const std::string& path) {
    const Head in(path);
    FileHeader none;
    if (!in.Open()) return Refuse(none, "the file cannot be read", LoadFailure::Missing);
    if (in.Matches(0, "BM", 2)) return ReadBmp(in);
    if (in.Matches(0, "\x89PNG\r\n\x1a\n", 8)) return ReadPng(in);
    if (in.Matches(0, "\xFF\xD8\xFF", 3)) return ReadJpeg(in);
    if (in.Matches(0, "II*\0", 4) || in.Matches(0, "MM\0*", 4) || in.Matches(0, "II+\0", 4) ||
        in.Matches(0, "MM\0+", 4))
        return ReadTiff(in);
    if (in.Has(0, 2) && in[0] == 'P' && in[1] >= '1' && in[1] <= '6') return ReadPnm(in);
    if (in.fileSize == 0) return Refuse(none, "the file is empty");
    return Refuse(none, "not a BMP, PNG, JPEG, TIFF or PNM file", LoadFailure::Unsupported);
}
