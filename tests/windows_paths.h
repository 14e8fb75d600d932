// The tests name their files in UTF-8, which is what the core takes on
// Linux; on Windows it takes wide paths. These forward the one to the other
// (a null path stays null), so the same tests run on both.
#pragma once

#if defined(_WIN32)
#include <filesystem>
#include <vector>

#include "picbuf/image_file.h"
#include "picbuf/png_profile.h"

class WidePathArg {
public:
    WidePathArg(const char* utf8) : null_(!utf8), path_(utf8 ? std::filesystem::u8path(utf8) : std::filesystem::path()) {}
    operator const wchar_t*() const { return null_ ? nullptr : path_.c_str(); }

private:
    bool null_;
    std::filesystem::path path_;
};

inline PictureRefusal CheckPictureFile(const char* path, PictureHeader& header) {
    return CheckPictureFile(WidePathArg(path), header);
}
inline bool LoadPicture(SBxPicBuf& picture, const char* path, PictureMetadataHolder* metadata = nullptr,
                        PictureRefusal* refusal = nullptr) {
    return LoadPicture(picture, WidePathArg(path), metadata, refusal);
}
inline const char* SaveLimitExceeded(int64_t width, int64_t height, int components, int bitsPerComponent,
                                     const char* target, int formatIndex) {
    return SaveLimitExceeded(width, height, components, bitsPerComponent, WidePathArg(target), formatIndex);
}
inline bool SavePicture(const SBxPicBuf& picture, const char* target, const char* metadataSource, int formatIndex) {
    return SavePicture(picture, WidePathArg(target), WidePathArg(metadataSource), formatIndex);
}
inline bool SavePicture(const SBxPicBuf& picture, const char* target, const PictureMetadata& metadata,
                        int formatIndex) {
    return SavePicture(picture, WidePathArg(target), metadata, formatIndex);
}
inline std::vector<uint8_t> ReadPngIccProfile(const char* path) { return ReadPngIccProfile(WidePathArg(path)); }
#endif
