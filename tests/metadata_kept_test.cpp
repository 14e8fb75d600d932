// Saving a result whose opened file has gone: the metadata kept at opening
// are carried over; when they were not kept they are read again only from
// the unchanged file. And 16-bit pictures saved as BMP or JPEG.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>

#include "picbuf/freeimage_bridge.h"
#include "picbuf/image_file.h"
#include "picbuf/png_profile.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kXmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF/></x:xmpmeta>";

// A profile libpng accepts: header only, RGB, no tags.
std::string IccProfile() {
    std::string icc(132, '\0');
    auto put = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) icc[at + i] = char(v >> (24 - 8 * i)); };
    put(0, 132), put(8, 0x02100000), put(68, 0xF6D6), put(72, 0x10000), put(76, 0xD32D);
    std::memcpy(&icc[12], "mntrRGB XYZ ", 12);
    std::memcpy(&icc[36], "acsp", 4);
    return icc;
}

// A JPEG whose XMP packet is xmp, with an ICC profile and 300 dpi.
void WriteSource(const std::string& path, const std::string& xmp, int width = 24) {
    EnsureFreeImage();
    BitmapHolder bitmap(FreeImage_Allocate(width, 16, 24));
    FITAG* tag = FreeImage_CreateTag();
    FreeImage_SetTagKey(tag, "XMLPacket");
    FreeImage_SetTagType(tag, FIDT_ASCII);
    FreeImage_SetTagCount(tag, unsigned(xmp.size() + 1));
    FreeImage_SetTagLength(tag, unsigned(xmp.size() + 1));
    FreeImage_SetTagValue(tag, xmp.c_str());
    FreeImage_SetMetadata(FIMD_XMP, bitmap.get(), "XMLPacket", tag);
    FreeImage_DeleteTag(tag);
    std::string icc = IccProfile();
    FreeImage_CreateICCProfile(bitmap.get(), &icc[0], long(icc.size()));
    FreeImage_SetDotsPerMeterX(bitmap.get(), 11811);
    FreeImage_SetDotsPerMeterY(bitmap.get(), 11811);
    ASSERT_TRUE(FreeImage_Save(FIF_JPEG, bitmap.get(), path.c_str(), 0));
}

struct Carried {
    std::string xmp, icc;
    unsigned dotsPerMeter = 0;
};

Carried CarriedBy(const std::string& path) {
    Carried carried;
    FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
    BitmapHolder file(FreeImage_Load(format, path.c_str(), 0));
    if (!file) return carried;
    FITAG* tag = nullptr;
    if (FreeImage_GetMetadata(FIMD_XMP, file.get(), "XMLPacket", &tag))
        carried.xmp = static_cast<const char*>(FreeImage_GetTagValue(tag));
    FIICCPROFILE* profile = FreeImage_GetICCProfile(file.get());
    if (profile->size > 0) carried.icc.assign(static_cast<const char*>(profile->data), profile->size);
    std::vector<uint8_t> png = ReadPngIccProfile(path.c_str());  // FreeImage reads none back from PNG
    if (!png.empty()) carried.icc.assign(png.begin(), png.end());
    carried.dotsPerMeter = FreeImage_GetDotsPerMeterX(file.get());
    return carried;
}

enum Fate { Unchanged, Deleted, Replaced };

void Befall(Fate fate, const std::string& source) {
    if (fate == Deleted) fs::remove(source);
    if (fate == Replaced) WriteSource(source, "<someone else's/>", 40);
}

}  // namespace

TEST(MetadataKept, SavesCarryTheOpenedFilesMetadataWhateverBecameOfIt) {
    ScratchFolder folder;
    const std::string source = folder.path("photo.jpg");
    for (Fate fate : {Deleted, Replaced}) {
        WriteSource(source, kXmp);
        PicBufHolder picture;
        PictureMetadataHolder metadata;
        ASSERT_TRUE(LoadPicture(picture.buf, source.c_str(), &metadata));
        Befall(fate, source);
        for (const char* name : {"painted.jpg", "painted.tif", "painted.png"}) {
            const std::string target = folder.path(name);
            ASSERT_TRUE(SavePicture(picture.buf, target.c_str(), *metadata, SaveFormatByName)) << fate << name;
            Carried carried = CarriedBy(target);
            EXPECT_EQ(carried.xmp, kXmp) << fate << name;
            EXPECT_EQ(carried.icc, IccProfile()) << fate << name;
            EXPECT_EQ(carried.dotsPerMeter, 11811u) << fate << name;
        }
    }
}

TEST(MetadataKept, WhenNotKeptTheyAreReadAgainOnlyFromTheUnchangedFile) {
    ScratchFolder folder;
    const std::string source = folder.path("photo.jpg"), target = folder.path("painted.png");
    for (Fate fate : {Unchanged, Deleted, Replaced}) {
        fs::remove(target);
        WriteSource(source, kXmp);
        PicBufHolder picture;
        PictureMetadataHolder metadata;
        ASSERT_TRUE(LoadPicture(picture.buf, source.c_str(), &metadata));
        metadata->kept.reset();
        Befall(fate, source);
        if (fate == Unchanged) {
            ASSERT_TRUE(SavePicture(picture.buf, target.c_str(), *metadata, SaveFormatPng));
            EXPECT_EQ(CarriedBy(target).xmp, kXmp);
        } else {
            // Someone else's metadata are never carried; the caller decides.
            EXPECT_THROW(SavePicture(picture.buf, target.c_str(), *metadata, SaveFormatPng), ImageReadError) << fate;
            EXPECT_FALSE(fs::exists(target)) << fate;
        }
    }
}

TEST(MetadataKept, SixteenBitPicturesAreWrittenAtEightBitsOnlyAsBmpAndJpeg) {
    ScratchFolder folder;
    struct Case {
        int format;
        unsigned bitsPerPixel;  // of a 3-component picture
    } cases[] = {{SaveFormatBmp, 24}, {SaveFormatJpeg, 24}, {SaveFormatTiff, 48}, {SaveFormatPng, 48}};
    for (int components : {1, 3}) {
        PicBufHolder deep;
        MakeTestPicture(deep, 20, 12, components, 16);
        for (const Case& c : cases) {
            const std::string path = folder.path("deep" + std::to_string(c.format));
            ASSERT_TRUE(SavePicture(deep.buf, path.c_str(), nullptr, c.format)) << c.format;
            BitmapHolder file(FreeImage_Load(FreeImage_GetFileType(path.c_str(), 0), path.c_str(), 0));
            ASSERT_TRUE(file);
            EXPECT_EQ(FreeImage_GetBPP(file.get()), c.bitsPerPixel / 3 * components) << c.format;
        }
        // BMP is lossless: each sample is the 16-bit one rounded to 8 bits.
        PicBufHolder shallow;
        ASSERT_TRUE(LoadPicture(shallow.buf, folder.path("deep" + std::to_string(SaveFormatBmp)).c_str()));
        for (int x = 0; x < 20; ++x)
            EXPECT_EQ(SampleAt(shallow.buf, x, 5, 0), std::round(SampleAt(deep.buf, x, 5, 0) / 257)) << x;
    }
}
