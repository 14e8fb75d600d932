// Loading and saving pictures through FreeImage: what is accepted and
// refused, round trips, metadata carried over, and failed saves that must
// leave the target alone. Every fixture file is made here with FreeImage.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "picbuf/freeimage_bridge.h"
#include "picbuf/image_file.h"
#include "picbuf/png_profile.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

std::set<std::string> FolderEntries(const ScratchFolder& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.folder())) names.insert(entry.path().filename().string());
    return names;
}

// A bitmap of any FreeImage type with a deterministic byte pattern.
BitmapHolder PatternBitmap(FREE_IMAGE_TYPE type, int width, int height, int bitsPerPixel) {
    EnsureFreeImage();
    BitmapHolder bitmap(FreeImage_AllocateT(type, width, height, bitsPerPixel));
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(bitmap.get(), y);
        for (unsigned i = 0; i < FreeImage_GetLine(bitmap.get()); ++i) line[i] = static_cast<BYTE>(i * 7 + y * 13);
    }
    return bitmap;
}

void SaveFixture(FIBITMAP* bitmap, FREE_IMAGE_FORMAT format, const std::string& path, int flags = 0) {
    ASSERT_TRUE(FreeImage_Save(format, bitmap, path.c_str(), flags)) << path;
}

void SetTag(FIBITMAP* bitmap, FREE_IMAGE_MDMODEL model, const char* key, FREE_IMAGE_MDTYPE type, const void* value,
            unsigned length) {
    FITAG* tag = FreeImage_CreateTag();
    FreeImage_SetTagKey(tag, key);
    FreeImage_SetTagType(tag, type);
    FreeImage_SetTagCount(tag, length);
    FreeImage_SetTagLength(tag, length);
    FreeImage_SetTagValue(tag, value);
    FreeImage_SetMetadata(model, bitmap, key, tag);
    FreeImage_DeleteTag(tag);
}

std::string TagText(FIBITMAP* bitmap, FREE_IMAGE_MDMODEL model, const char* key) {
    FITAG* tag = nullptr;
    if (!FreeImage_GetMetadata(model, bitmap, key, &tag) || !tag) return "";
    const char* text = static_cast<const char*>(FreeImage_GetTagValue(tag));
    return std::string(text, strnlen(text, FreeImage_GetTagLength(tag)));
}

std::string IccBytes(FIBITMAP* bitmap) {
    const FIICCPROFILE* profile = FreeImage_GetICCProfile(bitmap);
    return profile->data ? std::string(static_cast<const char*>(profile->data), profile->size) : "";
}

// A picture that must come out of a failed load exactly as it went in.
struct UntouchedPicture {
    UntouchedPicture() {
        MakeTestPicture(held, 5, 4, 3, 8, 9);
        MakeTestPicture(copy, 5, 4, 3, 8, 9);
        pixels = held.buf.pixels;
    }
    bool Intact() const { return held.buf.pixels == pixels && SamePixels(held.buf, copy.buf); }
    PicBufHolder held, copy;
    uint8_t* pixels;
};

struct JpegQualityScope {
    explicit JpegQualityScope(int quality) : saved(jpegQuality) { jpegQuality = quality; }
    ~JpegQualityScope() { jpegQuality = saved; }
    int saved;
};

double MeanAbsoluteDifference(const SBxPicBuf& a, const SBxPicBuf& b) {
    double sum = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            for (int c = 0; c < a.components; ++c) sum += std::fabs(SampleAt(a, x, y, c) - SampleAt(b, x, y, c));
    return sum / (static_cast<double>(a.width) * a.height * a.components);
}

std::string PngProfile(const std::string& path) {
    const std::vector<uint8_t> profile = ReadPngIccProfile(path.c_str());
    return std::string(profile.begin(), profile.end());
}

std::string BigEndian32(uint32_t value) {
    return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
}

uint32_t Crc32(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// A well-formed PNG chunk (length, type, data, CRC), whatever its data holds.
std::string PngChunk(const std::string& type, const std::string& data) {
    return BigEndian32(uint32_t(data.size())) + type + data + BigEndian32(Crc32(type + data));
}

// png with chunk placed right after its header chunk (signature and IHDR take 33 bytes).
std::string WithChunkAfterHeader(const std::string& png, const std::string& chunk) {
    return png.substr(0, 33) + chunk + png.substr(33);
}

std::string Deflate(const std::string& bytes) {
    std::string out(bytes.size() + bytes.size() / 100 + 64, '\0');
    out.resize(FreeImage_ZLibCompress(reinterpret_cast<BYTE*>(&out[0]), DWORD(out.size()),
                                      reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())), DWORD(bytes.size())));
    return out;
}

// iCCP chunk data: profile name, NUL, compression method, compressed profile.
std::string IccpData(const std::string& name, char method, const std::string& compressed) {
    return name + '\0' + method + compressed;
}

std::string WithClaimedSize(std::string icc, uint32_t size) { return icc.replace(0, 4, BigEndian32(size)); }

// An RGB display profile header with no tags and a made-up creator: enough
// for libpng, which refuses to write a profile whose header does not hold up.
// Bytes past the header are filler that compresses poorly.
std::string MinimalIccProfile(uint32_t bytes = 132) {
    std::string icc(bytes, '\0');
    for (uint32_t i = 132; i < bytes; ++i) icc[i] = char((i * 2654435761u) >> 13);
    auto put = [&](size_t at, const char* text) { std::memcpy(&icc[at], text, 4); };
    auto put32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) icc[at + i] = char(v >> (24 - 8 * i)); };
    put32(0, bytes);
    put32(8, 0x02100000);  // version 2.1
    put(12, "mntr");
    put(16, "RGB ");
    put(20, "XYZ ");
    put(36, "acsp");
    put32(68, 0x0000F6D6);  // D50 white point
    put32(72, 0x00010000);
    put32(76, 0x0000D32D);
    put(80, "ostr");  // creator; the tag count at 128 stays 0
    return icc;
}

FREE_IMAGE_FORMAT FileFormat(const std::string& path) { return FreeImage_GetFileType(path.c_str(), 0); }

}  // namespace

TEST(ImageFileRoundTrip, LosslessFormatsKeepEveryPixelAndWriteTheirFormat) {
    ScratchFolder folder;
    struct Case { int index; const char* name; FREE_IMAGE_FORMAT format; };
    // The names do not tell the format: the index alone must decide it.
    const Case cases[] = {{SaveFormatBmp, "out.dat", FIF_BMP},
                          {SaveFormatTiff, "out.dat", FIF_TIFF},
                          {SaveFormatPng, "out.dat", FIF_PNG},
                          {SaveFormatByName, "by_name.tif", FIF_TIFF},
                          {SaveFormatByName, "by_name.PNG", FIF_PNG}};
    for (const Case& c : cases) {
        for (int components : {1, 3}) {
            SCOPED_TRACE(std::string(c.name) + " format " + std::to_string(c.format) + " components " +
                         std::to_string(components));
            PicBufHolder picture, loaded;
            MakeTestPicture(picture, 37, 23, components, 8);  // odd width: FreeImage pads its rows
            const std::string path = folder.path(c.name);
            ASSERT_TRUE(SavePicture(picture.buf, path.c_str(), nullptr, c.index));
            EXPECT_EQ(FileFormat(path), c.format);
            ASSERT_TRUE(LoadPicture(loaded.buf, path.c_str()));
            EXPECT_TRUE(SamePixels(picture.buf, loaded.buf));
        }
    }
    // Replacing existing files left nothing else behind.
    EXPECT_EQ(FolderEntries(folder), (std::set<std::string>{"out.dat", "by_name.tif", "by_name.PNG"}));
}

TEST(ImageFileRoundTrip, JpegStaysCloseAndGreyStaysGrey) {
    ScratchFolder folder;
    JpegQualityScope quality(95);
    for (int components : {1, 3}) {
        PicBufHolder picture, loaded;
        MakeTestPicture(picture, 64, 48, components, 8);
        const std::string path = folder.path("photo.jpg");
        ASSERT_TRUE(SavePicture(picture.buf, path.c_str(), nullptr, SaveFormatJpeg));
        ASSERT_TRUE(LoadPicture(loaded.buf, path.c_str()));
        ASSERT_EQ(loaded->components, components);
        ASSERT_EQ(loaded->width, 64);
        EXPECT_LT(MeanAbsoluteDifference(picture.buf, loaded.buf), 5.0);  // a shifted or swapped picture is far off
    }
}

TEST(ImageFileRoundTrip, GreyPictureBecomesAnEightBitGreyPng) {
    ScratchFolder folder;
    PicBufHolder picture, loaded;
    MakeTestPicture(picture, 20, 10, 1, 8);
    const std::string path = folder.path("grey.png");
    ASSERT_TRUE(SavePicture(picture.buf, path.c_str(), nullptr, SaveFormatPng));
    BitmapHolder file(FreeImage_Load(FIF_PNG, path.c_str()));
    ASSERT_TRUE(file);
    EXPECT_EQ(FreeImage_GetBPP(file.get()), 8u);
    EXPECT_EQ(FreeImage_GetColorType(file.get()), FIC_MINISBLACK);
    ASSERT_TRUE(LoadPicture(loaded.buf, path.c_str()));
    EXPECT_EQ(loaded->components, 1);
    EXPECT_TRUE(SamePixels(picture.buf, loaded.buf));
}

TEST(ImageFileBridge, SixteenBitPicturesKeepTheirOrderAndAreSavedButNotOpened) {
    ScratchFolder folder;
    for (int components : {1, 3}) {
        SCOPED_TRACE(components);
        PicBufHolder picture, imported;
        MakeTestPicture(picture, 9, 7, components, 16);
        BitmapHolder bitmap(Export(picture.buf));
        ASSERT_TRUE(bitmap);
        EXPECT_EQ(FreeImage_GetImageType(bitmap.get()), components == 1 ? FIT_UINT16 : FIT_RGB16);
        if (components == 3) {
            // Buffer row 2 is FreeImage scan line 7 - 1 - 2; FreeImage keeps red first.
            const FIRGB16* line = reinterpret_cast<const FIRGB16*>(FreeImage_GetScanLine(bitmap.get(), 4));
            EXPECT_EQ(line[5].red, SampleAt(picture.buf, 5, 2, 2));
            EXPECT_EQ(line[5].green, SampleAt(picture.buf, 5, 2, 1));
            EXPECT_EQ(line[5].blue, SampleAt(picture.buf, 5, 2, 0));
        }
        ASSERT_TRUE(Import(bitmap.get(), imported.buf));
        EXPECT_TRUE(SamePixels(picture.buf, imported.buf));

        for (int index : {SaveFormatPng, SaveFormatTiff}) {
            const std::string path = folder.path(index == SaveFormatPng ? "deep.png" : "deep.tif");
            ASSERT_TRUE(SavePicture(picture.buf, path.c_str(), nullptr, index));
            BitmapHolder file(FreeImage_Load(FileFormat(path), path.c_str()));
            PicBufHolder reread;
            ASSERT_TRUE(Import(file.get(), reread.buf));
            EXPECT_TRUE(SamePixels(picture.buf, reread.buf));
            UntouchedPicture target;
            EXPECT_FALSE(LoadPicture(target.held.buf, path.c_str()));
            EXPECT_TRUE(target.Intact());
        }
    }
}

TEST(ImageFileBridge, GreyStoredWhiteFirstReadsAsGrey) {
    BitmapHolder bitmap = PatternBitmap(FIT_BITMAP, 6, 3, 8);
    RGBQUAD* palette = FreeImage_GetPalette(bitmap.get());
    for (int i = 0; i < 256; ++i) palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = BYTE(255 - i);
    ASSERT_EQ(FreeImage_GetColorType(bitmap.get()), FIC_MINISWHITE);
    PicBufHolder picture;
    ASSERT_TRUE(Import(bitmap.get(), picture.buf));
    const BYTE index = FreeImage_GetScanLine(bitmap.get(), 2)[4];  // top row
    EXPECT_EQ(SampleAt(picture.buf, 4, 0, 0), palette[index].rgbRed);
}

TEST(ImageFileLoad, RefusesPicturesTheEditorCannotTake) {
    ScratchFolder folder;
    struct Case { const char* name; FREE_IMAGE_TYPE type; int bpp; FREE_IMAGE_FORMAT format; int flags; };
    const Case cases[] = {
        {"grey16.png", FIT_UINT16, 16, FIF_PNG, 0},  {"colour16.png", FIT_RGB16, 48, FIF_PNG, 0},
        {"grey16.tif", FIT_UINT16, 16, FIF_TIFF, 0}, {"colour16.tif", FIT_RGB16, 48, FIF_TIFF, 0},
        {"rgba.png", FIT_BITMAP, 32, FIF_PNG, 0},    {"cmyk.tif", FIT_BITMAP, 32, FIF_TIFF, TIFF_CMYK},
        {"palette.png", FIT_BITMAP, 8, FIF_PNG, 0},  {"float.tif", FIT_FLOAT, 32, FIF_TIFF, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BitmapHolder bitmap = PatternBitmap(c.type, 8, 6, c.bpp);
        if (c.type == FIT_BITMAP && c.bpp == 8) FreeImage_GetPalette(bitmap.get())[3].rgbRed = 200;  // not a grey ramp
        const std::string path = folder.path(c.name);
        SaveFixture(bitmap.get(), c.format, path, c.flags);
        UntouchedPicture picture;
        EXPECT_FALSE(LoadPicture(picture.held.buf, path.c_str()));
        EXPECT_TRUE(picture.Intact());
    }
}

TEST(ImageFileLoad, ContentDecidesOverTheName) {
    ScratchFolder folder;
    PicBufHolder picture;
    MakeTestPicture(picture, 16, 12, 3, 8);
    for (const char* name : {"really_png.jpg", "really_png.bmp", "really_png"}) {
        const std::string path = folder.path(name);
        ASSERT_TRUE(SavePicture(picture.buf, path.c_str(), nullptr, SaveFormatPng));
        PicBufHolder loaded;
        ASSERT_TRUE(LoadPicture(loaded.buf, path.c_str())) << name;
        EXPECT_TRUE(SamePixels(picture.buf, loaded.buf)) << name;  // lossless, so read as PNG
    }
}

TEST(ImageFileLoad, DamagedMissingAndEmptyFilesFailCleanly) {
    ScratchFolder folder;
    WriteBytes(folder.path("empty.png"), "");
    WriteBytes(folder.path("noise.jpg"), std::string(300, '\x5a'));
    for (const char* name : {"empty.png", "noise.jpg", "missing.png", "missing", ""}) {
        UntouchedPicture picture;
        EXPECT_FALSE(LoadPicture(picture.held.buf, name[0] ? folder.path(name).c_str() : "")) << name;
        EXPECT_TRUE(picture.Intact()) << name;
    }
    UntouchedPicture nullPath;
    EXPECT_FALSE(LoadPicture(nullPath.held.buf, nullptr));

    // Cut files at many points: FreeImage gives up on most, fills a cut JPEG
    // with grey. Either way the load must not crash or read past its buffers,
    // and an accepted picture has the file's full geometry.
    PicBufHolder picture;
    MakeTestPicture(picture, 40, 30, 3, 8);
    for (int index : {SaveFormatBmp, SaveFormatTiff, SaveFormatPng, SaveFormatJpeg}) {
        const std::string whole = folder.path("whole");
        ASSERT_TRUE(SavePicture(picture.buf, whole.c_str(), nullptr, index));
        const std::string bytes = ReadBytes(whole);
        for (size_t cut : {size_t(2), size_t(20), size_t(60), bytes.size() / 4, bytes.size() / 2,
                           bytes.size() * 9 / 10, bytes.size() - 1}) {
            SCOPED_TRACE("format index " + std::to_string(index) + " cut at " + std::to_string(cut));
            const std::string path = folder.path("cut");
            WriteBytes(path, bytes.substr(0, cut));
            UntouchedPicture loaded;
            if (LoadPicture(loaded.held.buf, path.c_str())) {
                EXPECT_EQ(loaded.held->width, 40);
                EXPECT_EQ(loaded.held->height, 30);
            } else {
                EXPECT_TRUE(loaded.Intact());
            }
        }
    }
}

TEST(ImageFileLoad, PicturesTooLargeForABufferAreRefusedFromTheHeader) {
    ScratchFolder folder;
    // 30000 x 30000 colour is 2.7 GB, past the 32-bit byte count of a buffer.
    // Both files claim that size in their headers and hold almost nothing.
    PicBufHolder small;
    MakeTestPicture(small, 16, 16, 3, 8);
    const std::string jpeg = folder.path("huge.jpg");
    ASSERT_TRUE(SavePicture(small.buf, jpeg.c_str(), nullptr, SaveFormatJpeg));
    std::string bytes = ReadBytes(jpeg);
    const size_t frame = bytes.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    bytes[frame + 5] = bytes[frame + 7] = char(30000 >> 8);  // height, width (big-endian)
    bytes[frame + 6] = bytes[frame + 8] = char(30000 & 0xFF);
    WriteBytes(jpeg, bytes);

    unsigned char header[54] = {'B', 'M'};
    auto put32 = [&](int at, uint32_t v) { for (int i = 0; i < 4; ++i) header[at + i] = (v >> (8 * i)) & 0xFF; };
    put32(2, 54 + 30000u * 30000u * 3u);  // claimed file size (wraps; FreeImage ignores it)
    put32(10, 54);                         // pixel offset
    put32(14, 40);                         // info header size
    put32(18, 30000);
    put32(22, 30000);
    header[26] = 1;   // planes
    header[28] = 24;  // bits per pixel
    const std::string bmp = folder.path("huge.bmp");
    WriteBytes(bmp, std::string(reinterpret_cast<char*>(header), sizeof header) + std::string(64, '\0'));

    for (const std::string& path : {jpeg, bmp}) {
        BitmapHolder claimed(FreeImage_Load(FileFormat(path), path.c_str(), FIF_LOAD_NOPIXELS));
        ASSERT_TRUE(claimed) << path;
        ASSERT_EQ(FreeImage_GetWidth(claimed.get()), 30000u) << path;
        EXPECT_FALSE(GeometryFitsPictureBuffer(claimed.get()));
        PicBufHolder imported;
        EXPECT_FALSE(Import(claimed.get(), imported.buf));
        EXPECT_EQ(imported->pixels, nullptr);
        UntouchedPicture picture;
        EXPECT_FALSE(LoadPicture(picture.held.buf, path.c_str())) << path;
        EXPECT_TRUE(picture.Intact()) << path;
    }

}

TEST(ImageFileSave, JpegQualityZeroMeansNinetyFive) {
    ScratchFolder folder;
    PicBufHolder picture;
    MakeTestPicture(picture, 64, 64, 3, 8);
    auto saveAt = [&](int quality) {
        JpegQualityScope scope(quality);
        const std::string path = folder.path("q" + std::to_string(quality) + ".jpg");
        EXPECT_TRUE(SavePicture(picture.buf, path.c_str(), nullptr, SaveFormatJpeg));
        return ReadBytes(path);
    };
    const std::string atZero = saveAt(0), at95 = saveAt(95), at40 = saveAt(40);
    ASSERT_FALSE(at95.empty());
    EXPECT_EQ(atZero, at95);
    EXPECT_LT(at40.size(), at95.size());
    // Above 100 would be read as other FreeImage options; it is held at 100.
    EXPECT_EQ(saveAt(300), saveAt(100));
}

TEST(ImageFileSave, CarriesMetadataAndProfileOfTheSource) {
    ScratchFolder folder;
    const std::string comment = "Harbour at dusk";
    const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF/></x:xmpmeta>";
    // A minimal EXIF block: TIFF header and one IFD entry, Make = "Ostrivel".
    const unsigned char exif[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0,  1,   0,   0x0F, 0x01,
                                  2,   0,   9,   0,   0, 0, 26,  0,   0,  0, 0, 0, 0, 0, 'O', 's', 't',  'r',
                                  'i', 'v', 'e', 'l', 0};
    const std::string icc = MinimalIccProfile();

    BitmapHolder source = PatternBitmap(FIT_BITMAP, 24, 16, 24);
    SetTag(source.get(), FIMD_COMMENTS, "Comment", FIDT_ASCII, comment.c_str(), unsigned(comment.size() + 1));
    SetTag(source.get(), FIMD_XMP, "XMLPacket", FIDT_ASCII, xmp.c_str(), unsigned(xmp.size() + 1));
    SetTag(source.get(), FIMD_EXIF_RAW, "ExifRaw", FIDT_BYTE, exif, sizeof exif);
    FreeImage_CreateICCProfile(source.get(), const_cast<char*>(icc.data()), long(icc.size()));
    const std::string sourcePath = folder.path("source.jpg");
    SaveFixture(source.get(), FIF_JPEG, sourcePath);

    PicBufHolder picture;
    MakeTestPicture(picture, 32, 20, 3, 8);
    const std::string jpeg = folder.path("painted.jpg");
    ASSERT_TRUE(SavePicture(picture.buf, jpeg.c_str(), sourcePath.c_str(), SaveFormatJpeg));
    BitmapHolder saved(FreeImage_Load(FIF_JPEG, jpeg.c_str()));
    ASSERT_TRUE(saved);
    EXPECT_EQ(FreeImage_GetWidth(saved.get()), 32u);  // the picture's pixels, the source's metadata
    EXPECT_EQ(TagText(saved.get(), FIMD_COMMENTS, "Comment"), comment);
    EXPECT_EQ(TagText(saved.get(), FIMD_XMP, "XMLPacket"), xmp);
    EXPECT_EQ(TagText(saved.get(), FIMD_EXIF_MAIN, "Make"), "Ostrivel");
    EXPECT_EQ(IccBytes(saved.get()), icc);

    // PNG and TIFF carry the profile and XMP too. FreeImage reads no profile
    // back from PNG, so the PNG's iCCP chunk is read directly.
    for (int index : {SaveFormatPng, SaveFormatTiff}) {
        const std::string path = folder.path(index == SaveFormatPng ? "painted.png" : "painted.tif");
        ASSERT_TRUE(SavePicture(picture.buf, path.c_str(), sourcePath.c_str(), index));
        BitmapHolder file(FreeImage_Load(FileFormat(path), path.c_str()));
        ASSERT_TRUE(file) << path;
        EXPECT_EQ(index == SaveFormatPng ? PngProfile(path) : IccBytes(file.get()), icc) << path;
        EXPECT_EQ(TagText(file.get(), FIMD_XMP, "XMLPacket"), xmp) << path;
    }
}

TEST(ImageFileSave, UnknownFormatsThrowAndWriteNothing) {
    ScratchFolder folder;
    PicBufHolder picture;
    MakeTestPicture(picture, 8, 8, 3, 8);
    const std::string target = folder.path("kept.png");
    ASSERT_TRUE(SavePicture(picture.buf, target.c_str(), nullptr, SaveFormatPng));
    const std::string kept = ReadBytes(target);

    for (const char* name : {"picture.xyz", "picture.gif", "picture"}) {
        try {
            SavePicture(picture.buf, folder.path(name).c_str(), nullptr, SaveFormatByName);
            ADD_FAILURE() << name << " was accepted";
        } catch (const UnsupportedImageFormat& error) {
            EXPECT_STREQ(error.what(), "") << name;
        }
    }
    EXPECT_THROW(SavePicture(picture.buf, target.c_str(), nullptr, 9), UnsupportedImageFormat);
    EXPECT_THROW(SavePicture(picture.buf, target.c_str(), nullptr, -1), UnsupportedImageFormat);

    // Metadata sources: missing, unknown content, GIF.
    const std::string notes = folder.path("notes.xyz");
    WriteBytes(notes, "not a picture");
    BitmapHolder palette = PatternBitmap(FIT_BITMAP, 8, 8, 8);
    const std::string gif = folder.path("anim.gif");
    SaveFixture(palette.get(), FIF_GIF, gif);
    const std::string missing = folder.path("moved_away.jpg");
    EXPECT_THROW(SavePicture(picture.buf, target.c_str(), missing.c_str(), SaveFormatPng), ImageReadError);
    try {
        SavePicture(picture.buf, target.c_str(), notes.c_str(), SaveFormatPng);
        ADD_FAILURE() << "unknown metadata source accepted";
    } catch (const UnsupportedImageFormat& error) {
        EXPECT_EQ(std::string(error.what()), notes);
    }
    EXPECT_THROW(SavePicture(picture.buf, target.c_str(), gif.c_str(), SaveFormatPng), UnsupportedImageFormat);

    EXPECT_EQ(ReadBytes(target), kept);
    EXPECT_EQ(FolderEntries(folder), (std::set<std::string>{"kept.png", "notes.xyz", "anim.gif"}));
}

TEST(ImageFileSave, FailedSavesLeaveTheTargetAloneAndNoTemporaryFile) {
    ScratchFolder folder;
    PicBufHolder picture, floats, empty;
    MakeTestPicture(picture, 12, 10, 3, 8);
    MakeTestPicture(floats, 12, 10, 1, 32);
    const std::string target = folder.path("kept.jpg");
    ASSERT_TRUE(SavePicture(picture.buf, target.c_str(), nullptr, SaveFormatJpeg));
    const std::string kept = ReadBytes(target);

    EXPECT_FALSE(SavePicture(floats.buf, target.c_str(), nullptr, SaveFormatPng));  // cannot be exported
    EXPECT_FALSE(SavePicture(empty.buf, target.c_str(), nullptr, SaveFormatPng));
    EXPECT_FALSE(SavePicture(picture.buf, folder.path("no/such/folder/out.png").c_str(), nullptr, SaveFormatPng));
    EXPECT_FALSE(SavePicture(picture.buf, "", nullptr, SaveFormatPng));
    fs::create_directory(folder.path("a_folder.png"));
    EXPECT_FALSE(SavePicture(picture.buf, folder.path("a_folder.png").c_str(), nullptr, SaveFormatPng));
    EXPECT_TRUE(fs::is_directory(folder.path("a_folder.png")));

    EXPECT_EQ(ReadBytes(target), kept);
    EXPECT_EQ(FolderEntries(folder), (std::set<std::string>{"kept.jpg", "a_folder.png"}));
}


TEST(ImageFileSave, CarriesTheProfileOfAPngSource) {
    ScratchFolder folder;
    PicBufHolder picture;
    MakeTestPicture(picture, 20, 12, 3, 8);
    // 96 KiB does not fit the first buffer the profile is inflated into.
    for (uint32_t profileBytes : {132u, 96u << 10}) {
        SCOPED_TRACE(profileBytes);
        const std::string icc = MinimalIccProfile(profileBytes);
        BitmapHolder source = PatternBitmap(FIT_BITMAP, 24, 16, 24);
        FreeImage_CreateICCProfile(source.get(), const_cast<char*>(icc.data()), long(icc.size()));
        const std::string sourcePath = folder.path("source.png");
        SaveFixture(source.get(), FIF_PNG, sourcePath);
        ASSERT_NE(ReadBytes(sourcePath).find("iCCP"), std::string::npos);

        for (int index : {SaveFormatJpeg, SaveFormatTiff, SaveFormatPng}) {
            const std::string path = folder.path("painted" + std::to_string(index));
            ASSERT_TRUE(SavePicture(picture.buf, path.c_str(), sourcePath.c_str(), index)) << path;
            BitmapHolder saved(FreeImage_Load(FileFormat(path), path.c_str()));
            ASSERT_TRUE(saved) << path;
            EXPECT_EQ(index == SaveFormatPng ? PngProfile(path) : IccBytes(saved.get()), icc) << path;
        }
    }
}

TEST(ImageFileSave, DamagedPngProfileIsLeftOutAndTheSaveGoesOn) {
    ScratchFolder folder;
    BitmapHolder plain = PatternBitmap(FIT_BITMAP, 24, 16, 24);
    const std::string plainPath = folder.path("plain.png");
    SaveFixture(plain.get(), FIF_PNG, plainPath);
    const std::string png = ReadBytes(plainPath);
    const std::string icc = MinimalIccProfile(), deflated = Deflate(icc);
    const std::string large = MinimalIccProfile(96u << 10);
    std::string tiny = MinimalIccProfile();
    tiny = WithClaimedSize(tiny.substr(0, 100), 100);

    PicBufHolder picture;
    MakeTestPicture(picture, 16, 10, 3, 8);
    const std::string source = folder.path("source.png"), target = folder.path("painted.jpg");
    auto savedProfile = [&](const std::string& iccpData) {
        WriteBytes(source, WithChunkAfterHeader(png, PngChunk("iCCP", iccpData)));
        EXPECT_TRUE(SavePicture(picture.buf, target.c_str(), source.c_str(), SaveFormatJpeg));
        BitmapHolder saved(FreeImage_Load(FIF_JPEG, target.c_str()));
        return saved ? IccBytes(saved.get()) : "no file";
    };
    // The sound chunk is carried, so each case below fails by what it breaks.
    ASSERT_EQ(savedProfile(IccpData("icc", 0, deflated)), icc);

    struct Case { const char* what; std::string data; };
    const Case cases[] = {
        {"garbage stream", IccpData("icc", 0, "\x78\x9c" + std::string(40, '\x5a'))},
        {"stream cut short", IccpData("icc", 0, deflated.substr(0, deflated.size() / 2))},
        {"claims 1 GB", IccpData("icc", 0, Deflate(WithClaimedSize(icc, 1u << 30)))},
        {"claims 4 bytes more", IccpData("icc", 0, Deflate(WithClaimedSize(icc, 136)))},
        {"under 128 bytes", IccpData("icc", 0, Deflate(tiny))},
        {"large, claims 1 GB", IccpData("icc", 0, Deflate(WithClaimedSize(large, 1u << 30)))},
        {"large, claims less", IccpData("icc", 0, Deflate(WithClaimedSize(large, 80u << 10)))},
        {"large, claims more", IccpData("icc", 0, Deflate(WithClaimedSize(large, 200u << 10)))},
        {"large, cut, claims 60 MB", IccpData("icc", 0, Deflate(WithClaimedSize(large, 60u << 20)).substr(0, 300))},
        {"unknown compression", IccpData("icc", 1, deflated)},
        {"empty name", IccpData("", 0, deflated)},
        {"name without end", std::string(90, 'n') + deflated},
        {"nothing after the name", std::string("icc\0", 4)},
        {"empty chunk", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(savedProfile(c.data), "") << c.what;
}

TEST(PngProfileReader, CutFilesAndLyingLengthsGiveNoProfile) {
    ScratchFolder folder;
    BitmapHolder plain = PatternBitmap(FIT_BITMAP, 12, 8, 24);
    const std::string plainPath = folder.path("plain.png");
    SaveFixture(plain.get(), FIF_PNG, plainPath);
    const std::string png = ReadBytes(plainPath);
    const std::string icc = MinimalIccProfile();
    const std::string chunk = PngChunk("iCCP", IccpData("icc", 0, Deflate(icc)));
    const std::string withProfile = WithChunkAfterHeader(png, chunk);
    const std::string path = folder.path("test.png");
    WriteBytes(path, withProfile);
    ASSERT_EQ(PngProfile(path), icc);

    // Cut anywhere before the end of the profile's data.
    for (size_t cut = 0; cut < 33 + chunk.size() - 4; ++cut) {
        WriteBytes(path, withProfile.substr(0, cut));
        EXPECT_EQ(PngProfile(path), "") << "cut at " << cut;
    }
    // Lengths running past the end of the file, on the header chunk and the profile's.
    for (size_t at : {size_t(8), size_t(33)}) {
        for (uint32_t length : {0xFFFFFFFFu, 0x7FFFFFFFu, uint32_t(withProfile.size())}) {
            std::string bytes = withProfile;
            bytes.replace(at, 4, BigEndian32(length));
            WriteBytes(path, bytes);
            EXPECT_EQ(PngProfile(path), "") << "length " << length << " at " << at;
        }
    }
    // A profile after the pixel data does not count.
    WriteBytes(path, png.substr(0, png.size() - 12) + chunk + png.substr(png.size() - 12));
    EXPECT_EQ(PngProfile(path), "");

    WriteBytes(path, "not a picture");
    EXPECT_EQ(PngProfile(path), "");
    EXPECT_EQ(PngProfile(folder.path("missing.png")), "");
    EXPECT_TRUE(ReadPngIccProfile("").empty());
    EXPECT_TRUE(ReadPngIccProfile(nullptr).empty());
}
