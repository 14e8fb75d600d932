// Loading and saving pictures through FreeImage: what is accepted and
// refused, round trips, metadata carried over, and failed saves that must
// leave the target alone. Every fixture file is made here with FreeImage.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
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

FREE_IMAGE_FORMAT FileFormat(const std::string& path) { return FreeImage_GetFileType(path.c_str(), 0); }

BitmapHolder LoadBitmap(const std::string& path) { return BitmapHolder(FreeImage_Load(FileFormat(path), path.c_str())); }

std::string TagText(FIBITMAP* bitmap, FREE_IMAGE_MDMODEL model, const char* key) {
    FITAG* tag = nullptr;
    return FreeImage_GetMetadata(model, bitmap, key, &tag) && tag ? FreeImage_TagToString(model, tag) : "";
}

// The profile a saved file carries; FreeImage reads none back from PNG.
std::string SavedProfile(const std::string& path) {
    if (FileFormat(path) == FIF_PNG) {
        const std::vector<uint8_t> profile = ReadPngIccProfile(path.c_str());
        return std::string(profile.begin(), profile.end());
    }
    BitmapHolder bitmap = LoadBitmap(path);
    const FIICCPROFILE* profile = bitmap ? FreeImage_GetICCProfile(bitmap.get()) : nullptr;
    return profile && profile->data ? std::string(static_cast<const char*>(profile->data), profile->size) : "";
}

// True when a load of path fails and leaves the picture it was given exactly as it was.
bool RefusedUntouched(const char* path) {
    PicBufHolder held, copy;
    MakeTestPicture(held, 5, 4, 3, 8, 9);
    CopyOf(copy, held.buf);
    const uint8_t* pixels = held->pixels;
    return !LoadPicture(held.buf, path) && held->pixels == pixels && SamePixels(held.buf, copy.buf);
}

std::string BigEndian32(uint32_t value) { return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)}; }

// A well-formed PNG chunk (length, type, data, CRC), whatever its data holds.
std::string PngChunk(const std::string& type, const std::string& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : type + data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return BigEndian32(uint32_t(data.size())) + type + data + BigEndian32(~crc);
}

std::string Deflate(std::string bytes) {
    std::string out(bytes.size() + bytes.size() / 100 + 64, '\0');
    out.resize(FreeImage_ZLibCompress(reinterpret_cast<BYTE*>(&out[0]), DWORD(out.size()), reinterpret_cast<BYTE*>(&bytes[0]),
                                      DWORD(bytes.size())));
    return out;
}

// iCCP chunk data: profile name, NUL, compression method, compressed profile.
std::string Iccp(const std::string& compressed, const std::string& name = "icc", char method = 0) { return name + '\0' + method + compressed; }

std::string WithClaimedSize(std::string icc, uint32_t size) { return icc.replace(0, 4, BigEndian32(size)); }

// An RGB display profile header with no tags and a made-up creator, enough
// for libpng; bytes past the header are filler that compresses poorly.
std::string MinimalIccProfile(uint32_t bytes = 132) {
    std::string icc(bytes, '\0');
    for (uint32_t i = 132; i < bytes; ++i) icc[i] = char((i * 2654435761u) >> 13);
    const std::pair<size_t, std::string> fields[] = {{0, BigEndian32(bytes)}, {8, BigEndian32(0x02100000)}, {12, "mntr"},
                                                     {16, "RGB "}, {20, "XYZ "}, {36, "acsp"}, {68, BigEndian32(0xF6D6)},
                                                     {72, BigEndian32(0x10000)}, {76, BigEndian32(0xD32D)}, {80, "ostr"}};
    for (const auto& [at, text] : fields) icc.replace(at, 4, text);
    return icc;
}

}  // namespace

TEST(ImageFile, SavedPicturesLoadBackInTheirFormat) {
    ScratchFolder folder;
    struct Case { int index; const char* name; FREE_IMAGE_FORMAT format; };
    // The names do not tell the format: the index alone must decide it.
    const Case cases[] = {{SaveFormatBmp, "out.dat", FIF_BMP}, {SaveFormatTiff, "out.dat", FIF_TIFF},
                          {SaveFormatPng, "out.dat", FIF_PNG}, {SaveFormatByName, "by_name.tif", FIF_TIFF},
                          {SaveFormatByName, "by_name.PNG", FIF_PNG}, {SaveFormatPng, "really_png.jpg", FIF_PNG}};
    for (const Case& c : cases)
        for (int components : {1, 3}) {
            PicBufHolder picture, loaded;
            MakeTestPicture(picture, 37, 23, components, 8);  // odd width: FreeImage pads its rows
            const std::string path = folder.path(c.name);
            ASSERT_TRUE(SavePicture(picture.buf, path.c_str(), nullptr, c.index));
            EXPECT_EQ(FileFormat(path), c.format) << c.name;
            EXPECT_EQ(FreeImage_GetBPP(LoadBitmap(path).get()), 8u * components);  // grey stays 8-bit grey
            ASSERT_TRUE(LoadPicture(loaded.buf, path.c_str()));  // content decides over the name
            EXPECT_TRUE(SamePixels(picture.buf, loaded.buf)) << c.name << ", " << components;
        }
    // Replacing existing files left nothing else behind.
    EXPECT_EQ(FolderEntries(folder), (std::set<std::string>{"out.dat", "by_name.tif", "by_name.PNG", "really_png.jpg"}));
}

TEST(ImageFile, SixteenBitPicturesKeepTheirOrderAndAreSavedButNotOpened) {
    ScratchFolder folder;
    for (int components : {1, 3}) {
        PicBufHolder picture, imported;
        MakeTestPicture(picture, 9, 7, components, 16);
        BitmapHolder bitmap(Export(picture.buf));
        ASSERT_TRUE(bitmap);
        EXPECT_EQ(FreeImage_GetImageType(bitmap.get()), components == 1 ? FIT_UINT16 : FIT_RGB16);
        if (components == 3) {
            // Buffer row 2 is FreeImage scan line 7 - 1 - 2; FreeImage keeps red first.
            const FIRGB16* line = reinterpret_cast<const FIRGB16*>(FreeImage_GetScanLine(bitmap.get(), 4));
            EXPECT_EQ(std::vector<double>({double(line[5].red), double(line[5].blue)}),
                      std::vector<double>({SampleAt(picture.buf, 5, 2, 2), SampleAt(picture.buf, 5, 2, 0)}));
        }
        ASSERT_TRUE(Import(bitmap.get(), imported.buf));
        EXPECT_TRUE(SamePixels(picture.buf, imported.buf));
        for (const char* name : {"deep.png", "deep.tif"}) {
            const std::string path = folder.path(name);
            ASSERT_TRUE(SavePicture(picture.buf, path.c_str(), nullptr, SaveFormatByName));
            PicBufHolder reread;
            ASSERT_TRUE(Import(LoadBitmap(path).get(), reread.buf));
            EXPECT_TRUE(SamePixels(picture.buf, reread.buf)) << name;
            EXPECT_TRUE(RefusedUntouched(path.c_str())) << name;
        }
    }
}

TEST(ImageFile, LoadRefusesWhatTheEditorCannotTakeAndLeavesThePicture) {
    ScratchFolder folder;
    struct Case { const char* name; FREE_IMAGE_TYPE type; int bpp; FREE_IMAGE_FORMAT format; int flags; };
    const Case cases[] = {
        {"rgba.png", FIT_BITMAP, 32, FIF_PNG, 0},          {"cmyk.tif", FIT_BITMAP, 32, FIF_TIFF, TIFF_CMYK},
        {"palette.png", FIT_BITMAP, 8, FIF_PNG, 0},        {"float.tif", FIT_FLOAT, 32, FIF_TIFF, 0},
        {"grey16.png", FIT_UINT16, 16, FIF_PNG, 0},        {"colour16.tif", FIT_RGB16, 48, FIF_TIFF, 0},
    };
    for (const Case& c : cases) {
        BitmapHolder bitmap = PatternBitmap(c.type, 8, 6, c.bpp);
        if (c.bpp == 8) FreeImage_GetPalette(bitmap.get())[3].rgbRed = 200;  // not a grey ramp
        ASSERT_TRUE(FreeImage_Save(c.format, bitmap.get(), folder.path(c.name).c_str(), c.flags));
        EXPECT_TRUE(RefusedUntouched(folder.path(c.name).c_str())) << c.name;
    }
    WriteBytes(folder.path("empty.png"), "");
    WriteBytes(folder.path("noise.jpg"), std::string(300, '\x5a'));
    for (const char* name : {"empty.png", "noise.jpg", "missing.png"}) EXPECT_TRUE(RefusedUntouched(folder.path(name).c_str())) << name;
    EXPECT_TRUE(RefusedUntouched(""));
    EXPECT_TRUE(RefusedUntouched(nullptr));

    // Grey stored white first reads as grey.
    BitmapHolder white = PatternBitmap(FIT_BITMAP, 6, 3, 8);
    RGBQUAD* palette = FreeImage_GetPalette(white.get());
    for (int i = 0; i < 256; ++i) palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = BYTE(255 - i);
    PicBufHolder picture;
    ASSERT_TRUE(Import(white.get(), picture.buf));
    EXPECT_EQ(SampleAt(picture.buf, 4, 0), 255 - FreeImage_GetScanLine(white.get(), 2)[4]);  // top row

    // Files cut anywhere: FreeImage gives up on most and fills a cut JPEG
    // with grey; either way nothing crashes and an accepted picture is whole.
    MakeTestPicture(picture, 40, 30, 3, 8);
    for (int index : {SaveFormatBmp, SaveFormatTiff, SaveFormatPng, SaveFormatJpeg}) {
        const std::string whole = folder.path("whole"), cut = folder.path("cut");
        ASSERT_TRUE(SavePicture(picture.buf, whole.c_str(), nullptr, index));
        const std::string bytes = ReadBytes(whole);
        for (size_t size : {size_t(2), size_t(20), size_t(60), bytes.size() / 4, bytes.size() / 2, bytes.size() - 1}) {
            WriteBytes(cut, bytes.substr(0, size));
            PicBufHolder loaded;
            if (LoadPicture(loaded.buf, cut.c_str())) EXPECT_EQ(loaded->width * 1000 + loaded->height, 40030) << index << " " << size;
            else EXPECT_TRUE(RefusedUntouched(cut.c_str()));
        }
    }
}

// 30000 x 30000 colour is 2.7 GB, past the 32-bit byte count of a buffer:
// a file that claims it in its header and holds almost nothing is refused.
TEST(ImageFile, PicturesTooLargeForABufferAreRefusedFromTheHeader) {
    ScratchFolder folder;
    PicBufHolder small, imported;
    MakeTestPicture(small, 16, 16, 3, 8);
    const std::string jpeg = folder.path("huge.jpg");
    ASSERT_TRUE(SavePicture(small.buf, jpeg.c_str(), nullptr, SaveFormatJpeg));
    std::string bytes = ReadBytes(jpeg);
    const size_t frame = bytes.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    WriteBytes(jpeg, bytes.replace(frame + 5, 4, "\x75\x30\x75\x30"));  // height, width 30000, big-endian
    BitmapHolder claimed(FreeImage_Load(FIF_JPEG, jpeg.c_str(), FIF_LOAD_NOPIXELS));
    ASSERT_EQ(FreeImage_GetWidth(claimed.get()), 30000u);
    EXPECT_FALSE(GeometryFitsPictureBuffer(claimed.get()));
    EXPECT_FALSE(Import(claimed.get(), imported.buf));
    EXPECT_TRUE(RefusedUntouched(jpeg.c_str()));
}

TEST(ImageFile, SaveCarriesMetadataAndProfileAndHoldsTheJpegQuality) {
    ScratchFolder folder;
    const std::string comment = "Harbour at dusk", xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF/></x:xmpmeta>";
    // A minimal EXIF block: TIFF header and one IFD entry, Make = "Ostrivel".
    const unsigned char exif[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x0F, 0x01, 2, 0, 9,
                                  0, 0, 0, 26, 0, 0, 0, 0, 0, 0, 0, 'O', 's', 't', 'r', 'i', 'v', 'e', 'l', 0};
    const std::string icc = MinimalIccProfile();
    BitmapHolder source = PatternBitmap(FIT_BITMAP, 24, 16, 24);
    FreeImage_SetMetadataKeyValue(FIMD_COMMENTS, source.get(), "Comment", comment.c_str());
    FreeImage_SetMetadataKeyValue(FIMD_XMP, source.get(), "XMLPacket", xmp.c_str());
    FITAG* tag = FreeImage_CreateTag();
    FreeImage_SetTagKey(tag, "ExifRaw"), FreeImage_SetTagType(tag, FIDT_BYTE), FreeImage_SetTagCount(tag, sizeof exif);
    FreeImage_SetTagLength(tag, sizeof exif), FreeImage_SetTagValue(tag, exif);
    FreeImage_SetMetadata(FIMD_EXIF_RAW, source.get(), "ExifRaw", tag), FreeImage_DeleteTag(tag);
    FreeImage_CreateICCProfile(source.get(), const_cast<char*>(icc.data()), long(icc.size()));
    const std::string sourcePath = folder.path("source.jpg");
    ASSERT_TRUE(FreeImage_Save(FIF_JPEG, source.get(), sourcePath.c_str(), 0));

    PicBufHolder picture;
    MakeTestPicture(picture, 32, 20, 3, 8);
    for (const char* name : {"painted.jpg", "painted.png", "painted.tif"}) {
        const std::string path = folder.path(name);
        ASSERT_TRUE(SavePicture(picture.buf, path.c_str(), sourcePath.c_str(), SaveFormatByName));
        BitmapHolder saved = LoadBitmap(path);
        EXPECT_EQ(FreeImage_GetWidth(saved.get()), 32u);  // the picture's pixels, the source's metadata
        EXPECT_EQ(TagText(saved.get(), FIMD_XMP, "XMLPacket"), xmp) << name;
        EXPECT_EQ(SavedProfile(path), icc) << name;
        if (FileFormat(path) != FIF_JPEG) continue;
        EXPECT_EQ(TagText(saved.get(), FIMD_COMMENTS, "Comment"), comment);
        EXPECT_EQ(TagText(saved.get(), FIMD_EXIF_MAIN, "Make"), "Ostrivel");
    }

    // A PNG source's profile, also one too large for the first buffer it is inflated into.
    for (uint32_t profileBytes : {132u, 96u << 10}) {
        const std::string large = MinimalIccProfile(profileBytes), pngSource = folder.path("source.png");
        FreeImage_CreateICCProfile(source.get(), const_cast<char*>(large.data()), long(large.size()));
        ASSERT_TRUE(FreeImage_Save(FIF_PNG, source.get(), pngSource.c_str(), 0));
        for (const char* name : {"painted.jpg", "painted.png", "painted.tif"}) {
            ASSERT_TRUE(SavePicture(picture.buf, folder.path(name).c_str(), pngSource.c_str(), SaveFormatByName));
            EXPECT_EQ(SavedProfile(folder.path(name)), large) << name << " " << profileBytes;
        }
    }

    // Quality 0 means 95; above 100 would be read as other FreeImage options, so it is held at 100.
    auto saveAt = [&, saved = jpegQuality](int q) {
        jpegQuality = q;
        EXPECT_TRUE(SavePicture(picture.buf, folder.path("q.jpg").c_str(), nullptr, SaveFormatJpeg));
        jpegQuality = saved;
        return ReadBytes(folder.path("q.jpg"));
    };
    EXPECT_EQ(saveAt(0), saveAt(95));
    EXPECT_LT(saveAt(40).size(), saveAt(95).size());
    EXPECT_EQ(saveAt(300), saveAt(100));
}

TEST(ImageFile, FailedSavesThrowOrFailAndLeaveTheTargetAlone) {
    ScratchFolder folder;
    PicBufHolder picture, deep, floats, empty;
    MakeTestPicture(picture, 12, 10, 3, 8);
    MakeTestPicture(deep, 12, 10, 3, 16);
    MakeTestPicture(floats, 12, 10, 1, 32);
    const std::string target = folder.path("kept.jpg"), notes = folder.path("notes.xyz"), gif = folder.path("anim.gif");
    ASSERT_TRUE(SavePicture(picture.buf, target.c_str(), nullptr, SaveFormatJpeg));
    const std::string kept = ReadBytes(target);
    WriteBytes(notes, "not a picture");
    ASSERT_TRUE(FreeImage_Save(FIF_GIF, PatternBitmap(FIT_BITMAP, 8, 8, 8).get(), gif.c_str(), 0));

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
    // Metadata sources that are missing, of unknown content, or GIF.
    EXPECT_THROW(SavePicture(picture.buf, target.c_str(), folder.path("moved_away.jpg").c_str(), SaveFormatJpeg), ImageReadError);
    try {
        SavePicture(picture.buf, target.c_str(), notes.c_str(), SaveFormatJpeg);
        ADD_FAILURE() << "unknown metadata source accepted";
    } catch (const UnsupportedImageFormat& error) {
        EXPECT_EQ(std::string(error.what()), notes);
    }
    EXPECT_THROW(SavePicture(picture.buf, target.c_str(), gif.c_str(), SaveFormatJpeg), UnsupportedImageFormat);

    EXPECT_FALSE(SavePicture(deep.buf, target.c_str(), nullptr, SaveFormatJpeg));  // FreeImage writes no 16-bit JPEG
    EXPECT_FALSE(SavePicture(floats.buf, target.c_str(), nullptr, SaveFormatPng));  // cannot be exported
    EXPECT_FALSE(SavePicture(empty.buf, target.c_str(), nullptr, SaveFormatPng));
    EXPECT_FALSE(SavePicture(picture.buf, folder.path("no/such/folder/out.png").c_str(), nullptr, SaveFormatPng));
    EXPECT_FALSE(SavePicture(picture.buf, "", nullptr, SaveFormatPng));
    fs::create_directory(folder.path("a_folder.png"));
    EXPECT_FALSE(SavePicture(picture.buf, folder.path("a_folder.png").c_str(), nullptr, SaveFormatPng));
    EXPECT_EQ(ReadBytes(target), kept);
    EXPECT_EQ(FolderEntries(folder), (std::set<std::string>{"kept.jpg", "notes.xyz", "anim.gif", "a_folder.png"}));
}

// A damaged profile in a PNG source is left out and the save goes on; the
// reader gives no profile for cut files, lying lengths or a profile after the pixels.
TEST(ImageFile, DamagedPngProfilesAreLeftOut) {
    ScratchFolder folder;
    const std::string plain = folder.path("plain.png"), source = folder.path("source.png"), target = folder.path("painted.jpg");
    ASSERT_TRUE(FreeImage_Save(FIF_PNG, PatternBitmap(FIT_BITMAP, 12, 8, 24).get(), plain.c_str(), 0));
    const std::string png = ReadBytes(plain), icc = MinimalIccProfile(), deflated = Deflate(icc);
    const std::string large = MinimalIccProfile(96u << 10), tiny = WithClaimedSize(icc.substr(0, 100), 100);
    auto withChunk = [&](const std::string& data) { return png.substr(0, 33) + PngChunk("iCCP", data) + png.substr(33); };
    auto profileOf = [&](const std::string& bytes) {
        WriteBytes(source, bytes);
        const std::vector<uint8_t> profile = ReadPngIccProfile(source.c_str());
        return std::string(profile.begin(), profile.end());
    };
    const std::string sound = withChunk(Iccp(deflated));
    ASSERT_EQ(profileOf(sound), icc);  // so each case below fails by what it breaks

    const std::string damaged[] = {
        Iccp("\x78\x9c" + std::string(40, '\x5a')),                        // garbage stream
        Iccp(deflated.substr(0, deflated.size() / 2)),                      // stream cut short
        Iccp(Deflate(WithClaimedSize(icc, 1u << 30))),                      // claims 1 GB
        Iccp(Deflate(WithClaimedSize(icc, 136))),                           // claims 4 bytes more
        Iccp(Deflate(tiny)),                                                // under 128 bytes
        Iccp(Deflate(WithClaimedSize(large, 1u << 30))),                    // large, claims 1 GB
        Iccp(Deflate(WithClaimedSize(large, 80u << 10))),                   // large, claims less
        Iccp(Deflate(WithClaimedSize(large, 200u << 10))),                  // large, claims more
        Iccp(Deflate(WithClaimedSize(large, 60u << 20)).substr(0, 300)),    // large, cut, claims 60 MB
        Iccp(deflated, "icc", 1),                                           // unknown compression
        Iccp(deflated, ""),                                                 // empty name
        std::string(90, 'n') + deflated,                                    // name without end
        std::string("icc\0", 4),                                            // nothing after the name
        "",                                                                 // empty chunk
    };
    for (const std::string& data : damaged) EXPECT_EQ(profileOf(withChunk(data)), "") << &data - damaged;
    PicBufHolder picture;
    MakeTestPicture(picture, 16, 10, 3, 8);
    EXPECT_TRUE(SavePicture(picture.buf, target.c_str(), source.c_str(), SaveFormatJpeg));
    EXPECT_EQ(SavedProfile(target), "");

    for (size_t cut = 0; cut < 33 + PngChunk("iCCP", Iccp(deflated)).size() - 4; ++cut)
        EXPECT_EQ(profileOf(sound.substr(0, cut)), "") << "cut at " << cut;
    for (size_t at : {size_t(8), size_t(33)})
        for (uint32_t length : {0xFFFFFFFFu, 0x7FFFFFFFu, uint32_t(sound.size())})
            EXPECT_EQ(profileOf(std::string(sound).replace(at, 4, BigEndian32(length))), "") << length << " at " << at;
    EXPECT_EQ(profileOf(png.substr(0, png.size() - 12) + PngChunk("iCCP", Iccp(deflated)) + png.substr(png.size() - 12)), "");
    EXPECT_EQ(profileOf("not a picture"), "");
}
