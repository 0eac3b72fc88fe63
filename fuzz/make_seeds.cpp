// Writes the fuzzer's starting files: one small file for every format and
// layout the loader accepts, with the metadata blocks photographs carry.
//   quorvane-fuzz-seeds FOLDER
#include <FreeImage.h>
#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string g_folder;
int g_written = 0;

std::string PathOf(const std::string& name) { return g_folder + "/" + name; }

void Count(bool ok, const std::string& name) {
    if (ok)
        ++g_written;
    else
        std::fprintf(stderr, "quorvane-fuzz-seeds: could not write %s\n", name.c_str());
}

// A picture with gradients in every channel, so that every codec has work.
FIBITMAP* Picture(FREE_IMAGE_TYPE type, int width, int height, int bpp) {
    FIBITMAP* b = FreeImage_AllocateT(type, width, height, bpp);
    if (bpp == 8 && type == FIT_BITMAP) {
        RGBQUAD* palette = FreeImage_GetPalette(b);
        for (int i = 0; i < 256; ++i) palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = BYTE(i);
    }
    const unsigned lineBytes = FreeImage_GetLine(b);
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(b, y);
        for (unsigned i = 0; i < lineBytes; ++i) line[i] = BYTE(i * 29 + y * 71 + (i % 3) * 101);
    }
    return b;
}

std::vector<BYTE> MinimalIcc() {
    std::vector<BYTE> icc(132, 0);
    const BYTE header[] = {0, 0, 0, 132, 0, 0, 0, 0, 2, 0x10, 0, 0, 'm', 'n', 't', 'r', 'R', 'G', 'B', ' ', 'X', 'Y', 'Z', ' '};
    std::memcpy(icc.data(), header, sizeof header);
    std::memcpy(icc.data() + 36, "acsp", 4);
    return icc;
}

void Put16(std::vector<BYTE>& v, unsigned x) { v.push_back(BYTE(x)), v.push_back(BYTE(x >> 8)); }
void Put32(std::vector<BYTE>& v, uint32_t x) { Put16(v, x & 0xffff), Put16(v, x >> 16); }
void Entry(std::vector<BYTE>& v, unsigned tag, unsigned type, uint32_t count, uint32_t value) {
    Put16(v, tag), Put16(v, type), Put32(v, count), Put32(v, value);
}

// "Exif\0\0" and a little-endian TIFF block: IFD0 with Make, Orientation and
// a pointer to an EXIF IFD holding an exposure time and a date.
std::vector<BYTE> ExifBlock() {
    std::vector<BYTE> t = {'I', 'I', 42, 0};
    Put32(t, 8);
    const uint32_t ifd0 = 8, ifd0Size = 2 + 3 * 12 + 4, make = ifd0 + ifd0Size, exif = make + 8;
    const uint32_t exifSize = 2 + 2 * 12 + 4, rational = exif + exifSize, date = rational + 8;
    Put16(t, 3);
    Entry(t, 0x010F, 2, 8, make);
    Entry(t, 0x0112, 3, 1, 6);
    Entry(t, 0x8769, 4, 1, exif);
    Put32(t, 0);
    for (char c : std::string("Camera\0\0", 8)) t.push_back(BYTE(c));
    Put16(t, 2);
    Entry(t, 0x829A, 5, 1, rational);
    Entry(t, 0x9003, 2, 20, date);
    Put32(t, 0);
    Put32(t, 1), Put32(t, 250);
    for (char c : std::string("2024:05:17 18:42:07\0", 20)) t.push_back(BYTE(c));
    std::vector<BYTE> block = {'E', 'x', 'i', 'f', 0, 0};
    block.insert(block.end(), t.begin(), t.end());
    return block;
}

// PNG gets XMP only (libpng rejects the minimal colour profile); JPEG and
// TIFF get the profile, XMP, IPTC and EXIF.
void AttachMetadata(FIBITMAP* b, bool all = true) {
    const std::string xmp =
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
        "<rdf:Description xmlns:dc='http://purl.org/dc/elements/1.1/' dc:format='image/jpeg'/></rdf:RDF></x:xmpmeta>";
    FITAG* tag = FreeImage_CreateTag();
    FreeImage_SetTagKey(tag, "XMLPacket");
    FreeImage_SetTagType(tag, FIDT_ASCII);
    FreeImage_SetTagLength(tag, DWORD(xmp.size() + 1));
    FreeImage_SetTagCount(tag, DWORD(xmp.size() + 1));
    FreeImage_SetTagValue(tag, xmp.c_str());
    FreeImage_SetMetadata(FIMD_XMP, b, "XMLPacket", tag);
    FreeImage_DeleteTag(tag);
    if (!all) return;
    std::vector<BYTE> icc = MinimalIcc();
    FreeImage_CreateICCProfile(b, icc.data(), long(icc.size()));
    FreeImage_SetMetadataKeyValue(FIMD_IPTC, b, "Keywords", "harbour;dusk");
    FreeImage_SetMetadataKeyValue(FIMD_IPTC, b, "Caption-Abstract", "Boats at the pier");
    const std::vector<BYTE> exif = ExifBlock();
    tag = FreeImage_CreateTag();
    FreeImage_SetTagKey(tag, "ExifRaw");
    FreeImage_SetTagType(tag, FIDT_BYTE);
    FreeImage_SetTagLength(tag, DWORD(exif.size()));
    FreeImage_SetTagCount(tag, DWORD(exif.size()));
    FreeImage_SetTagValue(tag, exif.data());
    FreeImage_SetMetadata(FIMD_EXIF_RAW, b, "ExifRaw", tag);
    FreeImage_DeleteTag(tag);
}

// Applies a conversion that returns a new bitmap, releasing the original.
template <typename Convert>
FIBITMAP* Converted(FIBITMAP* b, Convert convert) {
    FIBITMAP* out = convert(b);
    FreeImage_Unload(b);
    return out;
}
FIBITMAP* TwoLevel(FIBITMAP* b) { return Converted(b, [](FIBITMAP* x) { return FreeImage_Threshold(x, 128); }); }

void Save(FREE_IMAGE_FORMAT fif, FIBITMAP* b, const std::string& name, int flags = 0) {
    Count(FreeImage_Save(fif, b, PathOf(name).c_str(), flags), name);
    FreeImage_Unload(b);
}

void WriteFile(const std::string& name, const std::vector<BYTE>& bytes) {
    std::ofstream out(PathOf(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    Count(bool(out), name);
}

// BMP headers FreeImage does not write: OS/2 (12-byte header) and V5 with
// channel masks (32-bit with alpha, as other programs write them).
void WriteBmpVariants() {
    const int w = 5, h = 3;
    std::vector<BYTE> os2 = {'B', 'M'};
    const uint32_t os2Stride = (w * 3 + 3) / 4 * 4;
    Put32(os2, 14 + 12 + os2Stride * h), Put32(os2, 0), Put32(os2, 14 + 12);
    Put32(os2, 12), Put16(os2, w), Put16(os2, h), Put16(os2, 1), Put16(os2, 24);
    for (uint32_t i = 0; i < os2Stride * h; ++i) os2.push_back(BYTE(i * 13));
    WriteFile("os2.bmp", os2);

    std::vector<BYTE> v5 = {'B', 'M'};
    Put32(v5, 14 + 124 + w * 4 * h), Put32(v5, 0), Put32(v5, 14 + 124);
    Put32(v5, 124), Put32(v5, w), Put32(v5, uint32_t(-h)), Put16(v5, 1), Put16(v5, 32);
    Put32(v5, 3 /* bit fields */), Put32(v5, w * 4 * h), Put32(v5, 2835), Put32(v5, 2835), Put32(v5, 0), Put32(v5, 0);
    Put32(v5, 0x00ff0000), Put32(v5, 0x0000ff00), Put32(v5, 0x000000ff), Put32(v5, 0xff000000);
    Put32(v5, 0x73524742);  // 'sRGB'
    for (int i = 0; i < 48 + 16; ++i) v5.push_back(0);  // end points, gamma, intent, profile, reserved
    for (int i = 0; i < w * 4 * h; ++i) v5.push_back(BYTE(i * 7 + 1));
    WriteFile("v5-alpha.bmp", v5);
}

// Layouts FreeImage's TIFF writer does not make: tiles, big-endian byte order.
void WriteTiff(const std::string& name, const char* mode, bool tiled, int samples, int bits) {
    const int w = 40, h = 24;
    TIFF* t = TIFFOpen(PathOf(name).c_str(), mode);
    if (!t) return Count(false, name);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    if (samples == 4 || samples == 2) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    const size_t pixelBytes = size_t(samples) * bits / 8;
    bool ok = true;
    if (tiled) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
        std::vector<BYTE> tile(16 * 16 * pixelBytes);
        for (int ty = 0; ty < h; ty += 16)
            for (int tx = 0; tx < w; tx += 16) {
                for (size_t i = 0; i < tile.size(); ++i) tile[i] = BYTE(i * 3 + tx + ty * 5);
                ok = ok && TIFFWriteTile(t, tile.data(), uint32_t(tx), uint32_t(ty), 0, 0) >= 0;
            }
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 5);
        std::vector<BYTE> row(w * pixelBytes);
        for (int y = 0; y < h; ++y) {
            for (size_t i = 0; i < row.size(); ++i) row[i] = BYTE(i * 5 + y * 9);
            ok = ok && TIFFWriteScanline(t, row.data(), uint32_t(y), 0) >= 0;
        }
    }
    TIFFClose(t);
    Count(ok, name);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quorvane-fuzz-seeds FOLDER\n");
        return 2;
    }
    g_folder = argv[1];
    FreeImage_Initialise(FALSE);
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);

    const int w = 13, h = 7;
    // BMP: grey, colour, with alpha, run-length coded, 16-bit 5-6-5.
    Save(FIF_BMP, Picture(FIT_BITMAP, w, h, 8), "grey.bmp");
    Save(FIF_BMP, Picture(FIT_BITMAP, w, h, 24), "colour.bmp");
    Save(FIF_BMP, Picture(FIT_BITMAP, w, h, 32), "alpha.bmp");
    Save(FIF_BMP, Picture(FIT_BITMAP, w, h, 8), "rle.bmp", BMP_SAVE_RLE);
    Save(FIF_BMP, Converted(Picture(FIT_BITMAP, w, h, 24), FreeImage_ConvertTo16Bits565), "565.bmp");
    WriteBmpVariants();

    // PNG: every depth and channel count, interlaced, with metadata.
    Save(FIF_PNG, Picture(FIT_BITMAP, w, h, 8), "grey.png");
    Save(FIF_PNG, Picture(FIT_BITMAP, w, h, 24), "colour.png");
    Save(FIF_PNG, Picture(FIT_BITMAP, w, h, 32), "alpha.png");
    Save(FIF_PNG, Picture(FIT_UINT16, w, h, 16), "grey16.png");
    Save(FIF_PNG, Picture(FIT_RGB16, w, h, 48), "colour16.png");
    Save(FIF_PNG, Picture(FIT_RGBA16, w, h, 64), "alpha16.png");
    Save(FIF_PNG, Picture(FIT_BITMAP, 33, 21, 24), "interlaced.png", PNG_INTERLACED);
    FIBITMAP* tagged = Picture(FIT_BITMAP, w, h, 32);
    AttachMetadata(tagged, false);
    Save(FIF_PNG, tagged, "tagged.png");

    // JPEG: baseline, grey, progressive, 4:4:4, with EXIF, IPTC, XMP and ICC.
    Save(FIF_JPEG, Picture(FIT_BITMAP, 24, 16, 24), "baseline.jpg", 90);
    Save(FIF_JPEG, Picture(FIT_BITMAP, 24, 16, 8), "grey.jpg", 90);
    Save(FIF_JPEG, Picture(FIT_BITMAP, 24, 16, 24), "progressive.jpg", 90 | JPEG_PROGRESSIVE);
    Save(FIF_JPEG, Picture(FIT_BITMAP, 24, 16, 24), "444.jpg", 90 | JPEG_SUBSAMPLING_444);
    tagged = Picture(FIT_BITMAP, 24, 16, 24);
    AttachMetadata(tagged);
    Save(FIF_JPEG, tagged, "tagged.jpg", 90);

    // TIFF: strips in several codings and depths, alpha, metadata, tiles, big-endian.
    Save(FIF_TIFF, Picture(FIT_BITMAP, w, h, 8), "grey.tif", TIFF_NONE);
    Save(FIF_TIFF, Picture(FIT_BITMAP, w, h, 24), "colour-lzw.tif", TIFF_LZW);
    Save(FIF_TIFF, Picture(FIT_BITMAP, w, h, 32), "alpha-deflate.tif", TIFF_ADOBE_DEFLATE);
    Save(FIF_TIFF, Picture(FIT_BITMAP, w, h, 24), "colour-packbits.tif", TIFF_PACKBITS);
    Save(FIF_TIFF, Picture(FIT_UINT16, w, h, 16), "grey16.tif");
    Save(FIF_TIFF, Picture(FIT_RGB16, w, h, 48), "colour16.tif");
    Save(FIF_TIFF, Picture(FIT_RGBA16, w, h, 64), "alpha16.tif");
    tagged = Picture(FIT_BITMAP, w, h, 24);
    AttachMetadata(tagged);
    Save(FIF_TIFF, tagged, "tagged.tif");
    WriteTiff("tiled.tif", "w", true, 3, 8);
    WriteTiff("tiled-alpha16.tif", "w", true, 4, 16);
    WriteTiff("big-endian.tif", "wb", false, 3, 8);
    WriteTiff("big-endian-grey16.tif", "wb", false, 1, 16);
    WriteTiff("grey-alpha.tif", "w", false, 2, 8);
    WriteTiff("grey-alpha16-tiled.tif", "w", true, 2, 16);
    WriteTiff("grey-alpha16-big-endian.tif", "wb", false, 2, 16);

    // PNM: bitmap, grey and colour, plain text and binary, 8- and 16-bit.
    Save(FIF_PBM, TwoLevel(Picture(FIT_BITMAP, w, h, 8)), "bits.pbm", PNM_SAVE_ASCII);
    Save(FIF_PBMRAW, TwoLevel(Picture(FIT_BITMAP, w, h, 8)), "bits-raw.pbm");
    Save(FIF_PGM, Picture(FIT_BITMAP, w, h, 8), "grey.pgm", PNM_SAVE_ASCII);
    Save(FIF_PGMRAW, Picture(FIT_BITMAP, w, h, 8), "grey-raw.pgm");
    Save(FIF_PGMRAW, Picture(FIT_UINT16, w, h, 16), "grey16-raw.pgm");
    Save(FIF_PPM, Picture(FIT_BITMAP, w, h, 24), "colour.ppm", PNM_SAVE_ASCII);
    Save(FIF_PPMRAW, Picture(FIT_BITMAP, w, h, 24), "colour-raw.ppm");
    Save(FIF_PPMRAW, Picture(FIT_RGB16, w, h, 48), "colour16-raw.ppm");

    FreeImage_DeInitialise();
    std::printf("quorvane-fuzz-seeds: %d files in %s\n", g_written, g_folder.c_str());
    return 0;
}
