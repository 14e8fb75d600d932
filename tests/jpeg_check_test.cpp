// A JPEG's own checks before FreeImage reads it: EXIF blocks that lie about
// their structure are left out (the picture still opens, and nothing of them
// reaches a saved file), and JPEGs whose data end early are refused as
// damaged, from the frame header when the data are far too short.
#include <filesystem>

#include "picbuf/freeimage_bridge.h"
#include "picbuf/image_file.h"
#include "picbuf/jpeg_check.h"
#include "test_support.h"

namespace {

struct Entry {
    uint32_t tag, type, count, value;
};

std::string BigEndian16(uint32_t value) { return {char(value >> 8), char(value)}; }

// A TIFF directory of entries (claimed: the count it says it holds) and its
// link to the next one.
std::string Directory(const std::vector<Entry>& entries, uint32_t next, bool bigEndian = false, int claimed = -1) {
    auto number = [&](uint32_t value, int bytes) {
        return bigEndian ? (bytes == 2 ? BigEndian16(value) : BigEndian32(value)) : LittleEndian(value, bytes);
    };
    std::string directory = number(claimed < 0 ? uint32_t(entries.size()) : uint32_t(claimed), 2);
    for (const Entry& e : entries) {
        directory += number(e.tag, 2) + number(e.type, 2) + number(e.count, 4);
        // Values of up to four bytes sit left-aligned in the entry.
        directory += e.type == 3 && e.count == 1 ? number(e.value, 2) + std::string(2, '\0') : number(e.value, 4);
    }
    return directory + number(next, 4);
}

// An EXIF TIFF block with IFD0 at offset 8, then tail.
std::string ExifBlock(const std::vector<Entry>& entries, uint32_t next = 0, const std::string& tail = "",
                      bool bigEndian = false, int claimed = -1) {
    return (bigEndian ? std::string("MM\0*\0\0\0\x08", 8) : std::string("II*\0\x08\0\0\0", 8)) +
           Directory(entries, next, bigEndian, claimed) + tail;
}

// Where the values after IFD0's link start, for a directory of n entries.
uint32_t TailAt(size_t n) { return uint32_t(8 + 2 + 12 * n + 4); }

// jpeg with an APP1 segment holding "Exif\0\0" and block right after its start marker.
std::string WithExif(const std::string& jpeg, const std::string& block) {
    const std::string payload = std::string("Exif\0\0", 6) + block;
    return jpeg.substr(0, 2) + "\xFF\xE1" + BigEndian16(uint32_t(payload.size() + 2)) + payload + jpeg.substr(2);
}

std::string SavedJpeg(const ScratchFolder& folder, int width, int height, int flags = 0, uint8_t fill = 0,
                      int components = 3) {
    PicBufHolder picture;
    if (fill) MakeFilled(picture, width, height, components, 8, fill);
    else MakeTestPicture(picture, width, height, components, 8);
    BitmapHolder bitmap(Export(picture.buf));
    const std::string path = folder.path("saved.jpg");
    EXPECT_TRUE(FreeImage_Save(FIF_JPEG, bitmap.get(), path.c_str(), flags));
    return ReadBytes(path);
}

}  // namespace

TEST(JpegCheck, ExifBlocksWhoseStructureDoesNotHoldUpAreLeftOut) {
    ScratchFolder folder;
    const Entry makeEntry{0x010F, 2, 9, TailAt(1)}, orientation{0x0112, 3, 1, 1};  // Make past the entry
    const std::string thumbnail = WithExif(SavedJpeg(folder, 8, 8), ExifBlock({}, 0, "", false, 300));
    const uint32_t ifd1 = TailAt(1);
    const std::string goodThumbnail = SavedJpeg(folder, 8, 8);
    // IFD1, right after IFD0, points to a thumbnail after itself.
    auto blockWithThumbnail = [&](const std::string& jpeg, uint32_t claimedLength) {
        const uint32_t thumbnailAt = ifd1 + 2 + 24 + 4;
        return ExifBlock({{0x010F, 2, 4, 0x00727473}}, ifd1,
                         Directory({{0x0201, 4, 1, thumbnailAt}, {0x0202, 4, 1, claimedLength}}, 0) + jpeg);
    };

    // A thumbnail may hold a thumbnail of its own, no deeper.
    const std::string nested = WithExif(goodThumbnail, blockWithThumbnail(goodThumbnail, uint32_t(goodThumbnail.size())));
    const std::string deeper = WithExif(goodThumbnail, blockWithThumbnail(nested, uint32_t(nested.size())));
    // Directories linked one after the other (each 6 bytes): IFD0 at 8, then
    // three (a sound chain is no longer) or four more.
    const std::string chain = Directory({}, 20) + Directory({}, 26) + Directory({}, 32);

    struct Case {
        const char* what;
        std::string block;
        bool holds;
    };
    const std::string tail("Ostrivel", 9);
    const Case cases[] = {
        {"one entry, its value after the directory", ExifBlock({makeEntry}, 0, tail), true},
        {"big-endian", ExifBlock({{0x010F, 2, 9, TailAt(1)}}, 0, tail, true), true},
        {"a value that ends at the block's end", ExifBlock({{0x010F, 2, 10, TailAt(1)}}, 0, tail + 'x'), true},
        {"a value one byte past the end", ExifBlock({{0x010F, 2, 10, TailAt(1)}}, 0, tail), false},
        {"a value far past the end", ExifBlock({{0x010F, 2, 9, 0xFFFFFFF0}}, 0, tail), false},
        {"a count whose size wraps 32 bits", ExifBlock({{0x010F, 4, 0x40000001, TailAt(1)}}, 0, tail), false},
        {"65,535 entries claimed", ExifBlock({makeEntry}, 0, tail + std::string(100, '\0'), false, 65535), false},
        {"200 entries claimed, 100 bytes", ExifBlock({makeEntry}, 0, tail + std::string(100, '\1'), false, 200), false},
        {"entries that end at the block's end", ExifBlock({orientation}).substr(0, TailAt(1) - 4), true},
        {"the last entry cut by a byte", ExifBlock({orientation}).substr(0, TailAt(1) - 5), false},
        {"type 0", ExifBlock({{0x010F, 0, 1, 0}}), false},
        {"type 14", ExifBlock({{0x010F, 14, 1, 0}}), false},
        {"type 13 (a directory) with one value", ExifBlock({{0x014A, 13, 1, 0}}), true},
        {"EXIF directory inside", ExifBlock({{0x8769, 4, 1, TailAt(1)}}, 0, Directory({{0x9000, 7, 4, 0x30333230}}, 0)),
         true},
        {"EXIF directory that is IFD0", ExifBlock({{0x8769, 4, 1, 8}}), false},
        {"GPS directory past the end", ExifBlock({{0x8825, 4, 1, 5000}}), false},
        {"interoperability directory looping to its parent",
         ExifBlock({{0x8769, 4, 1, TailAt(1)}}, 0, Directory({{0xA005, 4, 1, TailAt(1)}}, 0)), false},
        {"next directory back to IFD0", ExifBlock({makeEntry}, 8, tail), false},
        {"next directory past the end", ExifBlock({makeEntry}, 70000, tail), false},
        {"thumbnail", blockWithThumbnail(goodThumbnail, uint32_t(goodThumbnail.size())), true},
        {"thumbnail longer than the block", blockWithThumbnail(goodThumbnail, uint32_t(goodThumbnail.size() + 1)), false},
        {"thumbnail with a broken EXIF block", blockWithThumbnail(thumbnail, uint32_t(thumbnail.size())), false},
        {"thumbnail in a thumbnail", blockWithThumbnail(nested, uint32_t(nested.size())), true},
        {"thumbnail in a thumbnail in a thumbnail", blockWithThumbnail(deeper, uint32_t(deeper.size())), false},
        {"four directories in a row", ExifBlock({}, 14, chain.substr(0, 12) + Directory({}, 0)), true},
        {"five directories in a row", ExifBlock({}, 14, chain + Directory({}, 0)), false},
        {"thumbnail with an empty frame header (found by the fuzzer)",
         blockWithThumbnail(std::string("\xFF\xD8\xFF\xC0\0\x02\xFF\xD9", 8), 8), true},
        {"no TIFF header", "JFIF" + ExifBlock({makeEntry}, 0, tail).substr(4), false},
        {"TIFF magic 43", "II+" + ExifBlock({makeEntry}, 0, tail).substr(3), false},
        {"IFD0 past the end", ExifBlock({}).substr(0, 4) + LittleEndian(4000, 4), false},
    };
    for (const Case& c : cases) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(c.block.data());
        EXPECT_EQ(ExifBlockHoldsUp(bytes, c.block.size()), c.holds) << c.what;
    }

    // Photoshop segments: "8BIM", id, padded name, size, padded data.
    const std::string iptc = "\x1C\x02\x78" + BigEndian16(4) + "note";  // 9 bytes: one pad byte
    const std::string resource = "8BIM\x04\x04" + std::string(2, '\0') + BigEndian32(9) + iptc + '\0';
    const std::pair<std::string, bool> photoshop[] = {
        {resource + resource, true},
        {resource.substr(0, resource.size() - 1), true},  // the last pad may be missing
        {resource.substr(0, resource.size() - 2), false},
        {"8BIM\x04\x04\x02" "ab" + std::string(1, '\0') + BigEndian32(0), true},
        {"8BIM\x04\x04\xFF" "ab" + std::string(1, '\0') + BigEndian32(0), false},  // a name past the end
        {"8BIX" + resource.substr(4), false},
        {resource + "8BIM", false},
    };
    for (const auto& [bytes, holds] : photoshop)
        EXPECT_EQ(PhotoshopResourcesHoldUp(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), holds)
            << ::testing::PrintToString(bytes);

    // Through the loader: the picture opens either way, a broken block is
    // told of and is in no saved file, a sound one is carried.
    const std::string jpeg = SavedJpeg(folder, 40, 30);
    for (int claimed : {-1, 65535, 200}) {
        SCOPED_TRACE(claimed);
        const std::string path = folder.path("exif.jpg"), saved = folder.path("painted.jpg");
        // The broken ones: a count of entries and 100 bytes.
        const std::string filler(96, claimed == 65535 ? '\0' : '\1');
        WriteBytes(path, WithExif(jpeg, claimed < 0 ? ExifBlock({makeEntry}, 0, tail) : ExifBlock({}, 0, filler, false, claimed)));
        PictureHeader header;
        EXPECT_EQ(CheckPictureFile(path.c_str(), header), PictureRefusal::None);
        EXPECT_EQ(header.metadataLeftOut, claimed != -1);
        PicBufHolder picture;
        PictureMetadataHolder metadata;
        ASSERT_TRUE(LoadPicture(picture.buf, path.c_str(), &metadata));
        EXPECT_EQ(picture->width, 40);
        EXPECT_EQ(FreeImage_GetMetadataCount(FIMD_EXIF_MAIN, metadata->kept.get()) > 0, claimed == -1);
        ASSERT_TRUE(SavePicture(picture.buf, saved.c_str(), *metadata, SaveFormatJpeg));
        ASSERT_TRUE(SavePicture(picture.buf, saved.c_str(), path.c_str(), SaveFormatJpeg));
        EXPECT_EQ(ReadBytes(saved).find(std::string("Exif\0\0", 6)) != std::string::npos, claimed == -1);
    }
}

// FreeImage reads a TIFF's IPTC tag as LONG values, whatever its type.
TEST(JpegCheck, TiffIptcOfAnotherTypeIsLeftOut) {
    ScratchFolder folder;
    PicBufHolder picture;
    MakeTestPicture(picture, 16, 12, 3, 8);
    BitmapHolder bitmap(Export(picture.buf));
    FreeImage_SetMetadataKeyValue(FIMD_IPTC, bitmap.get(), "Caption-Abstract", "Harbour at dusk");
    const std::string path = folder.path("iptc.tif");
    ASSERT_TRUE(FreeImage_Save(FIF_TIFF, bitmap.get(), path.c_str(), TIFF_NONE));
    std::string bytes = ReadBytes(path);
    ASSERT_EQ(bytes.substr(0, 2), "II");
    const uint32_t directory = uint32_t(uint8_t(bytes[4])) | uint32_t(uint8_t(bytes[5])) << 8;
    size_t entry = directory + 2;
    while (entry + 12 <= bytes.size() && bytes.substr(entry, 2) != LittleEndian(33723, 2)) entry += 12;
    // FreeImage itself writes it as UNDEFINED bytes.
    ASSERT_EQ(bytes.substr(entry + 2, 2), LittleEndian(7, 2));
    for (int type : {7, 1, 4}) {
        SCOPED_TRACE(type);
        bytes.replace(entry + 2, 2, LittleEndian(type, 2));
        WriteBytes(path, bytes);
        PictureHeader header;
        EXPECT_EQ(CheckPictureFile(path.c_str(), header), PictureRefusal::None);
        EXPECT_EQ(header.metadataLeftOut, type != 4);
        PicBufHolder loaded;
        PictureMetadataHolder metadata;
        ASSERT_TRUE(LoadPicture(loaded.buf, path.c_str(), &metadata));
        if (type != 4) {
            EXPECT_EQ(FreeImage_GetMetadataCount(FIMD_IPTC, metadata->kept.get()), 0u);
        }
    }
}

TEST(JpegCheck, JpegsWhoseDataEndEarlyAreRefusedAsDamaged) {
    ScratchFolder folder;
    const std::string path = folder.path("in.jpg");
    auto refusal = [&](const std::string& bytes) {
        WriteBytes(path, bytes);
        PicBufHolder picture;
        PictureRefusal why = PictureRefusal::None;
        LoadPicture(picture.buf, path.c_str(), nullptr, &why);
        return why;
    };
    // Whole files at the least data a block can take (one colour, optimised
    // tables: a one-bit DC and a one-bit end-of-block code) open.
    for (int flags : {JPEG_OPTIMIZE, JPEG_PROGRESSIVE, JPEG_BASELINE}) {
        SCOPED_TRACE(flags);
        const std::string whole = SavedJpeg(folder, 1024, 512, flags | JPEG_QUALITYBAD, 128);
        EXPECT_EQ(refusal(whole), PictureRefusal::None);
        const std::string detailed = SavedJpeg(folder, 120, 90, flags);
        EXPECT_EQ(refusal(detailed), PictureRefusal::None);
        EXPECT_EQ(refusal(detailed + "trailing bytes"), PictureRefusal::None);
        // Cut anywhere after the frame header: damaged, not painted grey,
        // and known from the markers before anything is decoded.
        for (size_t cut : {detailed.size() / 3, detailed.size() * 2 / 3, detailed.size() - 3, detailed.size() - 2}) {
            EXPECT_EQ(refusal(detailed.substr(0, cut)), PictureRefusal::Damaged) << cut;
            PictureHeader header;
            EXPECT_EQ(CheckPictureFile(path.c_str(), header), PictureRefusal::Damaged) << cut;
        }
        // An end marker inside a segment after the scan is no end.
        const std::string comment = "\xFF\xFE" + BigEndian16(4) + "\xFF\xD9";
        WriteBytes(path, detailed.substr(0, detailed.size() - 2) + comment);
        PictureHeader header;
        EXPECT_EQ(CheckPictureFile(path.c_str(), header), PictureRefusal::Damaged);
    }

    // A whole file whose frame claims 65,047 x 2,584 pixels is refused from
    // its header, before a pixel is decoded.
    std::string claiming = SavedJpeg(folder, 300, 200);
    const size_t frame = claiming.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    claiming.replace(frame + 5, 4, BigEndian16(2584) + BigEndian16(65047));
    WriteBytes(path, claiming);
    PictureHeader header;
    EXPECT_EQ(CheckPictureFile(path.c_str(), header), PictureRefusal::Damaged);
    EXPECT_EQ(header.width, 65047);
    // At the edge: a grey frame one pixel high with as many 8-pixel blocks as
    // its data have bits for (two a block sequential, one progressive; a
    // part of a block counts whole) is taken, one pixel wider is not.
    for (int flags : {JPEG_BASELINE, JPEG_PROGRESSIVE}) {
        const bool progressive = flags == JPEG_PROGRESSIVE;
        std::string grey = SavedJpeg(folder, 16, 16, flags, 0, 1);
        const size_t scan = grey.find("\xFF\xDA"), at = grey.find(progressive ? "\xFF\xC2" : "\xFF\xC0");
        ASSERT_LT(at, scan);
        const size_t dataBytes = grey.size() - scan - 2 - (uint8_t(grey[scan + 2]) << 8 | uint8_t(grey[scan + 3]));
        const uint32_t blocks = uint32_t(dataBytes * 8 / (progressive ? 1 : 2));
        for (uint32_t width : {8 * blocks - 7, 8 * blocks + 1}) {
            grey.replace(at + 5, 4, BigEndian16(1) + BigEndian16(width));
            WriteBytes(path, grey);
            EXPECT_EQ(CheckPictureFile(path.c_str(), header),
                      width < 8 * blocks ? PictureRefusal::None : PictureRefusal::Damaged) << progressive << " " << width;
        }
    }
    // Past the limit, a progressive frame is refused before FreeImage reads
    // its header (which allocates 25 GB of coefficients for this one).
    std::string progressive = SavedJpeg(folder, 64, 48, JPEG_PROGRESSIVE);
    progressive.replace(progressive.find("\xFF\xC2") + 5, 4, BigEndian16(65500) + BigEndian16(65500));
    WriteBytes(path, progressive);
    EXPECT_EQ(CheckPictureFile(path.c_str(), header), PictureRefusal::TooLarge);
    EXPECT_EQ(std::make_pair(header.width, header.height), std::make_pair(int64_t(65500), int64_t(65500)));
}
