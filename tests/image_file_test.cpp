// Loading and saving pictures through FreeImage: what is accepted and
// refused, round trips, metadata carried over (also when the opened file has
// gone), and failed saves that must leave the target alone. Every fixture
// file is made here with FreeImage.
#include <chrono>
#include <filesystem>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "picbuf/freeimage_bridge.h"
#include "picbuf/image_file.h"
#include "picbuf/png_profile.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

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

std::string TagText(FIBITMAP* bitmap, FREE_IMAGE_MDMODEL model, const char* key) {
    FITAG* tag = nullptr;
    if (!FreeImage_GetMetadata(model, bitmap, key, &tag) || !tag) return "";
    const char* text = static_cast<const char*>(FreeImage_GetTagValue(tag));
    return std::string(text, strnlen(text, FreeImage_GetTagLength(tag)));
}

FREE_IMAGE_FORMAT FileFormat(const std::string& path) { return FreeImage_GetFileType(path.c_str(), 0); }

BitmapHolder LoadBitmap(const std::string& path) { return BitmapHolder(FreeImage_Load(FileFormat(path), path.c_str())); }

std::string PngProfile(const std::string& path) {
    const std::vector<uint8_t> profile = ReadPngIccProfile(path.c_str());
    return std::string(profile.begin(), profile.end());
}

// The ICC profile a file carries; FreeImage reads none back from PNG, so
// there the iCCP chunk is read directly.
std::string Profile(const std::string& path) {
    if (FileFormat(path) == FIF_PNG) return PngProfile(path);
    BitmapHolder bitmap = LoadBitmap(path);
    const FIICCPROFILE* profile = bitmap ? FreeImage_GetICCProfile(bitmap.get()) : nullptr;
    return profile && profile->data ? std::string(static_cast<const char*>(profile->data), profile->size) : "";
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
    auto put = [&](size_t at, const std::string& text) { icc.replace(at, text.size(), text); };
    put(0, BigEndian32(bytes));
    put(8, BigEndian32(0x02100000));  // version 2.1
    put(12, "mntrRGB XYZ ");
    put(36, "acsp");
    put(68, BigEndian32(0x0000F6D6) + BigEndian32(0x00010000) + BigEndian32(0x0000D32D));  // D50 white point
    put(80, "ostr");  // creator; the tag count at 128 stays 0
    return icc;
}

}  // namespace

TEST(ImageFileRoundTrip, LosslessFormatsKeepEveryPixelAndTheContentDecidesTheFormat) {
    ScratchFolder folder;
    struct Case { int index; const char* name; FREE_IMAGE_FORMAT format; };
    // The index alone decides the format written, the content the format read.
    const Case cases[] = {{SaveFormatBmp, "picture.jpg", FIF_BMP},        {SaveFormatTiff, "picture.jpg", FIF_TIFF},
                          {SaveFormatPng, "picture.jpg", FIF_PNG},        {SaveFormatPng, "picture", FIF_PNG},
                          {SaveFormatByName, "by_name.tif", FIF_TIFF}, {SaveFormatByName, "by_name.PNG", FIF_PNG}};
    for (const Case& c : cases) {
        for (int components : {1, 3}) {
            SCOPED_TRACE(std::string(c.name) + " format " + std::to_string(c.format) + " components " +
                         std::to_string(components));
            PicBufHolder picture, loaded;
            MakeTestPicture(picture, 37, 23, components, 8);  // odd width: FreeImage pads its rows
            const std::string path = folder.path(c.name);
            ASSERT_TRUE(SavePicture(picture.buf, path.c_str(), nullptr, c.index));
            EXPECT_EQ(FileFormat(path), c.format);
            if (c.format == FIF_PNG) {
                EXPECT_EQ(FreeImage_GetBPP(LoadBitmap(path).get()), 8u * components);
            }
            ASSERT_TRUE(LoadPicture(loaded.buf, path.c_str()));
            EXPECT_TRUE(SamePixels(picture.buf, loaded.buf));
        }
    }
    // Replacing existing files left nothing else behind.
    EXPECT_EQ(folder.files(), (std::set<std::string>{"picture.jpg", "picture", "by_name.tif", "by_name.PNG"}));

    // JPEG at a quality: the file's bytes, and the picture read back.
    PicBufHolder picture, loaded;
    auto saveJpeg = [&](int quality) {
        const int saved = jpegQuality;
        jpegQuality = quality;
        const std::string path = folder.path("q" + std::to_string(quality) + ".jpg");
        EXPECT_TRUE(SavePicture(picture.buf, path.c_str(), nullptr, SaveFormatJpeg));
        jpegQuality = saved;
        EXPECT_TRUE(LoadPicture(loaded.buf, path.c_str()));
        return ReadBytes(path);
    };
    for (int components : {1, 3}) {
        MakeTestPicture(picture, 64, 48, components, 8);
        saveJpeg(95);
        ASSERT_EQ(loaded->size, picture->size);
        double difference = 0;  // a shifted or swapped picture is far off
        for (int i = 0; i < picture->size; ++i) difference += std::abs(picture->pixels[i] - loaded->pixels[i]);
        EXPECT_LT(difference / picture->size, 5.0);
    }
    // Quality 0 means 95; above 100 would be read as other FreeImage options,
    // so it is held at 100.
    EXPECT_EQ(saveJpeg(0), saveJpeg(95));
    EXPECT_LT(saveJpeg(40).size(), saveJpeg(95).size());
    EXPECT_EQ(saveJpeg(300), saveJpeg(100));
}

// 16-bit pictures keep their samples through FreeImage and are written at 16
// bits as TIFF and PNG and at 8 as BMP and JPEG; the loader refuses them.
TEST(ImageFileBridge, SixteenBitPicturesKeepTheirOrderAndAreSavedAtTheirFormatsDepth) {
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

        for (int index : {SaveFormatPng, SaveFormatTiff, SaveFormatBmp, SaveFormatJpeg}) {
            const std::string path = folder.path("deep" + std::to_string(index));
            ASSERT_TRUE(SavePicture(picture.buf, path.c_str(), nullptr, index));
            BitmapHolder file = LoadBitmap(path);
            const bool deep = index == SaveFormatPng || index == SaveFormatTiff;
            EXPECT_EQ(FreeImage_GetBPP(file.get()), (deep ? 16u : 8u) * components) << index;
            PicBufHolder reread;
            ASSERT_TRUE(Import(file.get(), reread.buf));
            if (deep) {
                EXPECT_TRUE(SamePixels(picture.buf, reread.buf));
            } else if (index == SaveFormatBmp) {
                // BMP is lossless: each sample is the 16-bit one rounded to 8 bits.
                for (int x = 0; x < 9; ++x)
                    EXPECT_EQ(SampleAt(reread.buf, x, 5, 0), std::round(SampleAt(picture.buf, x, 5, 0) / 257)) << x;
            }
        }
    }

    // Grey stored white first reads as grey.
    BitmapHolder inverted = PatternBitmap(FIT_BITMAP, 6, 3, 8);
    RGBQUAD* palette = FreeImage_GetPalette(inverted.get());
    for (int i = 0; i < 256; ++i) palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = BYTE(255 - i);
    ASSERT_EQ(FreeImage_GetColorType(inverted.get()), FIC_MINISWHITE);
    PicBufHolder picture;
    ASSERT_TRUE(Import(inverted.get(), picture.buf));
    const BYTE index = FreeImage_GetScanLine(inverted.get(), 2)[4];  // top row
    EXPECT_EQ(SampleAt(picture.buf, 4, 0, 0), palette[index].rgbRed);
}

TEST(ImageFileLoad, RefusesPicturesTheEditorCannotTakeAndFilesThatAreNone) {
    ScratchFolder folder;
    struct Case { const char* name; FREE_IMAGE_TYPE type; int bpp; FREE_IMAGE_FORMAT format; int flags; };
    const Case cases[] = {
        {"grey16.png", FIT_UINT16, 16, FIF_PNG, 0},  {"colour16.tif", FIT_RGB16, 48, FIF_TIFF, 0},
        {"rgba.png", FIT_BITMAP, 32, FIF_PNG, 0},    {"cmyk.tif", FIT_BITMAP, 32, FIF_TIFF, TIFF_CMYK},
        {"palette.png", FIT_BITMAP, 8, FIF_PNG, 0},  {"float.tif", FIT_FLOAT, 32, FIF_TIFF, 0},
    };
    for (const Case& c : cases) {
        BitmapHolder bitmap = PatternBitmap(c.type, 8, 6, c.bpp);
        if (c.type == FIT_BITMAP && c.bpp == 8) FreeImage_GetPalette(bitmap.get())[3].rgbRed = 200;  // not a grey ramp
        ASSERT_TRUE(FreeImage_Save(c.format, bitmap.get(), folder.path(c.name).c_str(), c.flags)) << c.name;
    }
    WriteBytes(folder.path("empty.png"), "");
    WriteBytes(folder.path("noise.jpg"), std::string(300, '\x5a'));
    // Those, missing files and no name at all fail and leave the picture as it was.
    std::vector<std::string> paths = {folder.path("missing.png"), folder.path("missing"), ""};
    for (const std::string& name : folder.files()) paths.push_back(folder.path(name));
    for (const std::string& path : paths) {
        UntouchedPicture picture;
        EXPECT_FALSE(LoadPicture(picture.held.buf, path.c_str())) << path;
        EXPECT_TRUE(picture.Intact()) << path;
    }
    UntouchedPicture nullPath;
    EXPECT_FALSE(LoadPicture(nullPath.held.buf, static_cast<const PicPathChar*>(nullptr)));

    // 30000 x 30000 colour is 2.7 GB, past the 32-bit byte count of a buffer:
    // the bridge refuses it from the header alone.
    WriteBytes(folder.path("huge.bmp"), ClaimingBmp(30000, 30000));
    BitmapHolder claimed(FreeImage_Load(FIF_BMP, folder.path("huge.bmp").c_str(), FIF_LOAD_NOPIXELS));
    ASSERT_TRUE(claimed);
    EXPECT_FALSE(GeometryFitsPictureBuffer(claimed.get()));
    PicBufHolder imported;
    EXPECT_FALSE(Import(claimed.get(), imported.buf));
    EXPECT_EQ(imported->pixels, nullptr);
}

TEST(ImageFileLoad, CutFilesFailCleanlyOrKeepTheirGeometry) {
    ScratchFolder folder;
    // Cut files at many points: FreeImage gives up on most (a cut JPEG is
    // refused as damaged, jpeg_check_test). Either way the load must not
    // crash or read past its buffers, and an accepted picture has the file's
    // full geometry.
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

// A JPEG (or PNG, by its name) with a comment, XMP, EXIF, a profile and 300
// dpi; replaced, it has someone else's XMP and is wider.
void WriteSource(const std::string& path, bool replaced = false) {
    const std::string comment = "Harbour at dusk", icc = MinimalIccProfile();
    const std::string xmp = replaced ? "<someone else's/>" : "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF/></x:xmpmeta>";
    // A minimal EXIF block: TIFF header and one IFD entry, Make = "Ostrivel".
    const std::string exif("Exif\0\0II*\0\x08\0\0\0\x01\0\x0F\x01\x02\0\x09\0\0\0\x1A\0\0\0\0\0\0\0Ostrivel", 41);
    BitmapHolder source = PatternBitmap(FIT_BITMAP, replaced ? 40 : 24, 16, 24);
    FreeImage_SetMetadataKeyValue(FIMD_COMMENTS, source.get(), "Comment", comment.c_str());
    FreeImage_SetMetadataKeyValue(FIMD_XMP, source.get(), "XMLPacket", xmp.c_str());
    FITAG* exifTag = FreeImage_CreateTag();
    FreeImage_SetTagKey(exifTag, "ExifRaw");
    FreeImage_SetTagType(exifTag, FIDT_BYTE);
    FreeImage_SetTagCount(exifTag, DWORD(exif.size()));
    FreeImage_SetTagLength(exifTag, DWORD(exif.size()));
    FreeImage_SetTagValue(exifTag, exif.data());
    FreeImage_SetMetadata(FIMD_EXIF_RAW, source.get(), "ExifRaw", exifTag);
    FreeImage_DeleteTag(exifTag);
    FreeImage_CreateICCProfile(source.get(), const_cast<char*>(icc.data()), long(icc.size()));
    FreeImage_SetDotsPerMeterX(source.get(), 11811);
    FreeImage_SetDotsPerMeterY(source.get(), 11811);
    ASSERT_TRUE(FreeImage_Save(FreeImage_GetFIFFromFilename(path.c_str()), source.get(), path.c_str(), 0));
}

// From a source file, and from the record kept at opening whatever became of
// the file since, every format carries the metadata, profile and resolution.
// When not kept, they are read again only from the unchanged file: someone
// else's are never carried, and the caller decides.
TEST(ImageFileSave, CarriesMetadataProfileAndResolutionOfTheOpenedFile) {
    ScratchFolder folder;
    std::string source = folder.path("photo.jpg");
    PicBufHolder picture;
    MakeTestPicture(picture, 32, 20, 3, 8);
    auto expectCarried = [&](const std::string& path) {
        BitmapHolder saved = LoadBitmap(path);
        ASSERT_TRUE(saved) << path;
        EXPECT_EQ(FreeImage_GetWidth(saved.get()), 32u);  // the picture's pixels, the source's metadata
        EXPECT_EQ(TagText(saved.get(), FIMD_XMP, "XMLPacket"), "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF/></x:xmpmeta>");
        EXPECT_EQ(Profile(path), MinimalIccProfile()) << path;
        EXPECT_EQ(FreeImage_GetDotsPerMeterX(saved.get()), 11811u) << path;
        if (FileFormat(path) != FIF_JPEG || FreeImage_GetFIFFromFilename(source.c_str()) != FIF_JPEG) return;
        EXPECT_EQ(TagText(saved.get(), FIMD_COMMENTS, "Comment"), "Harbour at dusk");
        EXPECT_EQ(TagText(saved.get(), FIMD_EXIF_MAIN, "Make"), "Ostrivel");
    };
    WriteSource(source);
    ASSERT_TRUE(SavePicture(picture.buf, folder.path("painted.jpg").c_str(), source.c_str(), SaveFormatJpeg));
    expectCarried(folder.path("painted.jpg"));

    // A PNG source's profile is read from its iCCP chunk, which FreeImage does not read back.
    // The file counts as changed when its size or its time does: rewritten
    // as it was but later, or replaced by someone else's at the same time.
    for (const char* sourceName : {"photo.jpg", "photo.png"})
        for (const char* fate : {"unchanged", "deleted", "rewritten", "replaced"})
            for (bool kept : {true, false}) {
                source = folder.path(sourceName);
                WriteSource(source);
                PicBufHolder opened;
                PictureMetadataHolder metadata;
                ASSERT_TRUE(LoadPicture(opened.buf, source.c_str(), &metadata));
                if (!kept) metadata->kept.reset();
                const fs::file_time_type opening = fs::last_write_time(source);
                const std::string what = fate;
                if (what == "deleted") fs::remove(source);
                if (what == "rewritten" || what == "replaced") WriteSource(source, what == "replaced");
                if (what == "rewritten") fs::last_write_time(source, opening + std::chrono::seconds(2));
                if (what == "replaced") fs::last_write_time(source, opening);
                for (const char* name : {"kept.jpg", "kept.tif", "kept.png"}) {
                    SCOPED_TRACE(std::string(sourceName) + " to " + name + ", " + fate + (kept ? ", kept" : ", not kept"));
                    const std::string target = folder.path(name);
                    fs::remove(target);
                    if (kept || fate[0] == 'u') {
                        ASSERT_TRUE(SavePicture(picture.buf, target.c_str(), *metadata, SaveFormatByName));
                        expectCarried(target);
                    } else {
                        EXPECT_THROW(SavePicture(picture.buf, target.c_str(), *metadata, SaveFormatByName), ImageReadError);
                        EXPECT_FALSE(fs::exists(target));
                    }
                }
            }
}

TEST(ImageFileSave, FailedSavesThrowOrFailAndLeaveTheTargetAloneAndNoTemporaryFile) {
    ScratchFolder folder;
    PicBufHolder picture, floats, empty;
    MakeTestPicture(picture, 12, 10, 3, 8);
    MakeTestPicture(floats, 12, 10, 1, 32);
    const std::string target = folder.path("kept.png");
    ASSERT_TRUE(SavePicture(picture.buf, target.c_str(), nullptr, SaveFormatPng));
    const std::string kept = ReadBytes(target);

    // What a save throws: the exception's kind and its text.
    auto thrown = [&](const std::string& path, const std::string& source, int index) -> std::string {
        try {
            SavePicture(picture.buf, path.c_str(), source.c_str(), index);
        } catch (const UnsupportedImageFormat& error) {
            return "unsupported " + std::string(error.what());
        } catch (const ImageReadError& error) {
            return "unreadable " + std::string(error.what());
        }
        return "accepted";
    };
    // Formats not written carry no path; metadata sources that are missing,
    // of unknown content or GIF name themselves.
    const std::pair<const char*, int> unwritable[] = {{"picture.xyz", SaveFormatByName}, {"picture.gif", SaveFormatByName},
                                                      {"picture", SaveFormatByName}, {"kept.png", 9}, {"kept.png", -1}};
    for (auto [name, index] : unwritable) EXPECT_EQ(thrown(folder.path(name), "", index), "unsupported ") << name << index;
    WriteBytes(folder.path("notes.xyz"), "not a picture");
    // A 1 x 1 GIF, by hand: the Windows build's FreeImage writes no GIF.
    WriteBytes(folder.path("anim.gif"), std::string("GIF89a\x01\0\x01\0\x80\0\0\xff\xff\xff\0\0\0,\0\0\0\0\x01\0\x01\0\0"
                                                    "\x02\x02\x44\x01\0;",
                                                    35));
    const std::pair<const char*, const char*> sources[] = {
        {"moved_away.jpg", "unreadable "}, {"notes.xyz", "unsupported "}, {"anim.gif", "unsupported "}};
    for (auto [name, kind] : sources) EXPECT_EQ(thrown(target, folder.path(name), SaveFormatPng), kind + folder.path(name));

    EXPECT_FALSE(SavePicture(floats.buf, target.c_str(), nullptr, SaveFormatPng));  // cannot be exported
    EXPECT_FALSE(SavePicture(empty.buf, target.c_str(), nullptr, SaveFormatPng));
    EXPECT_FALSE(SavePicture(picture.buf, folder.path("no/such/folder/out.png").c_str(), nullptr, SaveFormatPng));
    // The system's reason is kept for the message; a good save clears it.
    EXPECT_EQ(LastSaveSystemError(), ENOENT);
#if defined(_WIN32)
    EXPECT_FALSE(LastSaveErrorText().empty());  // Windows' own words for it, in the user's language
#else
    EXPECT_EQ(LastSaveErrorText(), std::strerror(ENOENT));
#endif
    ASSERT_TRUE(SavePicture(picture.buf, target.c_str(), nullptr, SaveFormatPng));
    EXPECT_EQ(std::make_pair(LastSaveSystemError(), LastSaveErrorText()), std::make_pair(0, std::string()));
    EXPECT_FALSE(SavePicture(picture.buf, "", nullptr, SaveFormatPng));
    fs::create_directory(folder.path("a_folder.png"));
    EXPECT_FALSE(SavePicture(picture.buf, folder.path("a_folder.png").c_str(), nullptr, SaveFormatPng));
    EXPECT_TRUE(fs::is_directory(folder.path("a_folder.png")));

    EXPECT_EQ(ReadBytes(target), kept);
    EXPECT_EQ(folder.files(), (std::set<std::string>{"kept.png", "notes.xyz", "anim.gif", "a_folder.png"}));
    EXPECT_EQ(LastSaveOmissions(), 0);
}

// A PNG source's profile is read from its iCCP chunk; a damaged one is left
// out and the save goes on.
TEST(ImageFileSave, DamagedPngProfileIsLeftOutAndTheSaveGoesOn) {
    ScratchFolder folder;
    const std::string plainPath = folder.path("plain.png");
    ASSERT_TRUE(FreeImage_Save(FIF_PNG, PatternBitmap(FIT_BITMAP, 24, 16, 24).get(), plainPath.c_str(), 0));
    const std::string png = ReadBytes(plainPath);
    const std::string icc = MinimalIccProfile(), deflated = Deflate(icc);
    const std::string large = MinimalIccProfile(96u << 10);  // past the first buffer it is inflated into
    std::string tiny = MinimalIccProfile();
    tiny = WithClaimedSize(tiny.substr(0, 100), 100);

    PicBufHolder picture;
    MakeTestPicture(picture, 16, 10, 3, 8);
    const std::string source = folder.path("source.png"), target = folder.path("painted.jpg");
    auto savedProfile = [&](const std::string& iccpData) {
        WriteBytes(source, WithChunkAfterHeader(png, PngChunk("iCCP", iccpData)));
        EXPECT_TRUE(SavePicture(picture.buf, target.c_str(), source.c_str(), SaveFormatJpeg));
        return Profile(target);
    };
    // Sound chunks are carried, so each case below fails by what it breaks.
    ASSERT_EQ(savedProfile(IccpData("icc", 0, deflated)), icc);
    ASSERT_EQ(savedProfile(IccpData("icc", 0, Deflate(large))), large);

    struct Case { const char* what; std::string data; };
    const Case cases[] = {
        {"garbage stream", IccpData("icc", 0, "\x78\x9c" + std::string(40, '\x5a'))},
        {"claims 4 bytes more", IccpData("icc", 0, Deflate(WithClaimedSize(icc, 136)))},
        {"under 128 bytes", IccpData("icc", 0, Deflate(tiny))},
        {"large, claims less", IccpData("icc", 0, Deflate(WithClaimedSize(large, 80u << 10)))},
        {"large, claims more", IccpData("icc", 0, Deflate(WithClaimedSize(large, 200u << 10)))},
        {"unknown compression", IccpData("icc", 1, deflated)},
        {"empty name", IccpData("", 0, deflated)},
        {"nothing after the name", std::string("icc\0", 4)},
        {"empty chunk", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(savedProfile(c.data), "") << c.what;

    // Cut anywhere before the end of the profile's data, or after the pixel
    // data: no profile.
    const std::string chunk = PngChunk("iCCP", IccpData("icc", 0, deflated));
    const std::string withProfile = WithChunkAfterHeader(png, chunk);
    auto profileOf = [&](const std::string& bytes) {
        WriteBytes(source, bytes);
        return PngProfile(source);
    };
    ASSERT_EQ(profileOf(withProfile), icc);
    for (size_t cut = 0; cut < 33 + chunk.size() - 4; ++cut) EXPECT_EQ(profileOf(withProfile.substr(0, cut)), "") << cut;
    EXPECT_EQ(profileOf(png.substr(0, png.size() - 12) + chunk + png.substr(png.size() - 12)), "");
    EXPECT_EQ(profileOf("not a picture"), "");
    EXPECT_EQ(PngProfile(folder.path("missing.png")), "");
    EXPECT_TRUE(ReadPngIccProfile("").empty());
    EXPECT_TRUE(ReadPngIccProfile(static_cast<const PicPathChar*>(nullptr)).empty());
}

// What an output format cannot hold is left out and told, the rest written:
// a profile libpng refuses, in PNG only; XMP beyond one JPEG segment, in JPEG
// only (FreeImage would cut it into ordinary segments readers reject).
TEST(ImageFileSave, WhatAFormatCannotHoldIsLeftOutAndTold) {
    ScratchFolder folder;
    PicBufHolder picture;
    MakeTestPicture(picture, 16, 10, 3, 8);
    const std::string garbage = WithClaimedSize(std::string(200, '\x5a'), 200);  // no ICC header
    const std::string marker = "http://ns.adobe.com/xap/1.0/";
    auto xmpOfBytes = [](size_t bytes) {  // with its closing NUL
        return "<x:xmpmeta xmlns:x='adobe:ns:meta/'>" + std::string(bytes - 1 - 48, ' ') + "</x:xmpmeta>";
    };
    struct Case {
        std::string profile;
        size_t xmpBytes;
        const char* target;
        int omitted;
    };
    const Case cases[] = {
        {garbage, 100, "out.png", SaveOmittedProfile}, {garbage, 100, "out.jpg", 0},
        {garbage, 100, "out.tif", 0},                  {MinimalIccProfile(), 100, "out.png", 0},
        {MinimalIccProfile(), 1 << 20, "out.jpg", SaveOmittedXmp}, {MinimalIccProfile(), 1 << 20, "out.png", 0},
        {MinimalIccProfile(), kMaxJpegXmpBytes, "out.jpg", 0},
        {MinimalIccProfile(), kMaxJpegXmpBytes + 1, "out.jpg", SaveOmittedXmp},
        {garbage, 1 << 20, "out.png", SaveOmittedProfile},
    };
    const std::string source = folder.path("source.tif");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.target) + " xmp " + std::to_string(c.xmpBytes) + " omitted " + std::to_string(c.omitted));
        BitmapHolder bitmap = PatternBitmap(FIT_BITMAP, 24, 16, 24);
        FreeImage_CreateICCProfile(bitmap.get(), const_cast<char*>(c.profile.data()), long(c.profile.size()));
        const std::string xmp = xmpOfBytes(c.xmpBytes);
        FreeImage_SetMetadataKeyValue(FIMD_XMP, bitmap.get(), "XMLPacket", xmp.c_str());
        ASSERT_TRUE(FreeImage_Save(FIF_TIFF, bitmap.get(), source.c_str(), 0));
        const std::string target = folder.path(c.target);
        ASSERT_TRUE(SavePicture(picture.buf, target.c_str(), source.c_str(), SaveFormatByName));
        EXPECT_EQ(LastSaveOmissions(), c.omitted);
        EXPECT_EQ(Profile(target) == c.profile, !(c.omitted & SaveOmittedProfile));
        const std::string bytes = ReadBytes(target);
        EXPECT_EQ(bytes.find("</x:xmpmeta>") != std::string::npos, !(c.omitted & SaveOmittedXmp));
        if (FileFormat(target) == FIF_JPEG && !c.omitted) {
            EXPECT_EQ(bytes.find(marker, bytes.find(marker) + 1), std::string::npos) << "one segment";
        }
    }
    // IPTC from a JPEG: carried into JPEG, left out of TIFF.
    BitmapHolder bitmap = PatternBitmap(FIT_BITMAP, 24, 16, 24);
    FreeImage_SetMetadataKeyValue(FIMD_IPTC, bitmap.get(), "Caption-Abstract", "Harbour at dusk");
    ASSERT_TRUE(FreeImage_Save(FIF_JPEG, bitmap.get(), folder.path("iptc.jpg").c_str(), 0));
    for (const char* name : {"out.jpg", "out.tif"}) {
        const std::string target = folder.path(name);
        ASSERT_TRUE(SavePicture(picture.buf, target.c_str(), folder.path("iptc.jpg").c_str(), SaveFormatByName));
        const bool tiff = FileFormat(target) == FIF_TIFF;
        EXPECT_EQ(LastSaveOmissions(), tiff ? SaveOmittedIptc : 0) << name;
        EXPECT_EQ(TagText(LoadBitmap(target).get(), FIMD_IPTC, "Caption-Abstract"), tiff ? "" : "Harbour at dusk");
    }
}

#if defined(_WIN32)
// A killed save's temporary file is cleared by the next save into its folder;
// a save under way (its file held open), a recent file and names this
// program does not make are left alone.
TEST(ImageFileSave, TheNextSaveClearsTemporaryFilesOfKilledSaves) {
    ScratchFolder folder;
    PicBufHolder picture;
    MakeTestPicture(picture, 12, 10, 3, 8);
    struct Leftover {
        const char* name;
        int minutesOld;
        bool heldOpen;
        bool cleared;
    };
    const Leftover leftovers[] = {
        {".ostrivel-save-0badf00d.tmp", 2, false, true},    {".ostrivel-save-0000abcd.tmp", 0, false, false},
        {".ostrivel-save-0000abce.tmp", 2, true, false},    {".ostrivel-save-0000abc.tmp", 2, false, false},
        {".ostrivel-save-0000abcx.tmp", 2, false, false},   {"x.ostrivel-save-0000abcd.tmp", 2, false, false},
        {".ostrivel-save-0000abcd.tmp.png", 2, false, false}};
    std::set<std::string> expected = {"out.png"};
    HANDLE held = INVALID_HANDLE_VALUE;
    for (const Leftover& leftover : leftovers) {
        const std::string path = folder.path(leftover.name);
        WriteBytes(path, "half a picture");
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::minutes(leftover.minutesOld));
        if (leftover.heldOpen)
            held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (!leftover.cleared) expected.insert(leftover.name);
    }
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SavePicture(picture.buf, folder.path("out.png").c_str(), nullptr, SaveFormatPng));
    CloseHandle(held);
    EXPECT_EQ(folder.files(), expected);
}
#endif

#if !defined(_WIN32)
// A replaced file keeps its permissions, and its owner and group where the
// process may change them; a new file gets the umask's; a symbolic link is
// replaced by the new file and the file it named is left alone.
TEST(ImageFileSave, AReplacedFileKeepsItsPermissionsOwnerAndGroupAndALinkIsReplaced) {
    ScratchFolder folder;
    PicBufHolder picture;
    MakeTestPicture(picture, 12, 10, 3, 8);
    const std::string target = folder.path("out.png");
    const mode_t umaskBefore = umask(022);
    auto modeOf = [](const std::string& path) {
        struct stat status;
        return lstat(path.c_str(), &status) == 0 ? status.st_mode : mode_t(0);
    };
    for (mode_t mode : {0600, 0640, 0604, 0664, 0751}) {
        WriteBytes(target, "the user's older file");
        ASSERT_EQ(chmod(target.c_str(), mode), 0);
        ASSERT_TRUE(SavePicture(picture.buf, target.c_str(), nullptr, SaveFormatPng));
        EXPECT_EQ(modeOf(target), S_IFREG | mode) << std::oct << mode;
    }
    fs::remove(target);
    ASSERT_TRUE(SavePicture(picture.buf, target.c_str(), nullptr, SaveFormatPng));
    EXPECT_EQ(modeOf(target), S_IFREG | 0644);

    if (geteuid() == 0) {  // only root gives a file away
        ASSERT_EQ(chown(target.c_str(), 12345, 23456), 0);
        ASSERT_TRUE(SavePicture(picture.buf, target.c_str(), nullptr, SaveFormatPng));
        struct stat status;
        ASSERT_EQ(stat(target.c_str(), &status), 0);
        EXPECT_EQ(std::make_pair(status.st_uid, status.st_gid), std::make_pair(uid_t(12345), gid_t(23456)));
    }

    const std::string linked = folder.path("linked.png"), link = folder.path("link.png");
    WriteBytes(linked, "the file the link names");
    chmod(linked.c_str(), 0600);
    fs::create_symlink("linked.png", link);
    ASSERT_TRUE(SavePicture(picture.buf, link.c_str(), nullptr, SaveFormatPng));
    EXPECT_EQ(modeOf(link), S_IFREG | 0644);
    EXPECT_EQ(ReadBytes(linked), "the file the link names");
    umask(umaskBefore);
}
#endif
