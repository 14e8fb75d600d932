// libFuzzer harness of the image file layer: every input is written to a
// file and opened as the editor opens a picture; what opens is saved again
// with that file as metadata source (read afresh, and from the record kept
// at load), and what does not open still serves as the metadata source of a
// small picture's save. Pictures are held to a quarter megapixel, so that
// each run stays quick; the refusals above that are the same code.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "picbuf/image_file.h"
#include "picbuf/picbuf.h"

namespace {

std::string folder;

std::string MakeFolder() {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    std::string pattern = std::string(base) + "/ostrivel-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    return pattern;
}

void RemoveFolder() {
    for (const char* name : {"/in.bmp", "/in.jpg", "/in.tif", "/in.png", "/in.tga", "/in", "/out.png", "/out.jpg",
                             "/out.tif", "/out.bmp"})
        std::remove((folder + name).c_str());
    rmdir(folder.c_str());
}

void SaveQuietly(const SBxPicBuf& picture, const std::string& target, const char* source) {
    try {
        SavePicture(picture, target.c_str(), source, SaveFormatByName);
    } catch (const UnsupportedImageFormat&) {
    } catch (const ImageReadError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    folder = MakeFolder();
    std::atexit(RemoveFolder);
    maxPictureMegapixels = 0.25;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The last byte picks the file's name, so that the loader's guess by
    // extension (for content it does not recognise) is fuzzed too.
    static const char* const names[] = {"/in.bmp", "/in.jpg", "/in.tif", "/in.png", "/in.tga", "/in"};
    static const char* const outputs[] = {"/out.png", "/out.jpg", "/out.tif", "/out.bmp"};
    const unsigned pick = size ? data[size - 1] : 0;
    const std::string input = folder + names[pick % 6];
    FILE* file = std::fopen(input.c_str(), "wb");
    if (!file) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    const std::string output = folder + outputs[(pick / 6) % 4];
    PicBufHolder picture;
    PictureMetadataHolder metadata;
    PictureRefusal refusal;
    if (LoadPicture(picture.buf, input.c_str(), &metadata, &refusal)) {
        SaveQuietly(picture.buf, output, input.c_str());
        try {
            SavePicture(picture.buf, output.c_str(), *metadata, SaveFormatByName);
        } catch (const ImageReadError&) {
        }
    } else {
        PicBufHolder small;
        CBxPicBufAPI::ReinitHeap(small.buf, 4, 3, 3, 8);
        if (small->pixels) SaveQuietly(small.buf, output, input.c_str());
    }
    std::remove(input.c_str());
    return 0;
}
