// FreeImage numbers its formats by their place in the plugin table
// (FreeImage_Initialise registers them in FREE_IMAGE_FORMAT order), so the
// plugins left out of this build are registered by name only, with nothing to
// validate, load or save: FIF_PNG, FIF_TIFF and the rest keep their values,
// and files of the left-out formats are simply not recognised. Their names
// and extensions are kept, so a file name maps to the same format as with
// the full library.
#include "FreeImage.h"
#include "Plugin.h"

#define OSTRIVEL_FORMAT_ONLY(init, name, extensions)                   \
    static const char* DLL_CALLCONV init##Format() { return name; }         \
    static const char* DLL_CALLCONV init##Extensions() { return extensions; } \
    void DLL_CALLCONV init(Plugin* plugin, int) {                           \
        plugin->format_proc = init##Format;                                 \
        plugin->extension_proc = init##Extensions;                          \
    }

OSTRIVEL_FORMAT_ONLY(InitICO, "ICO", "ico")
OSTRIVEL_FORMAT_ONLY(InitJNG, "JNG", "jng")
OSTRIVEL_FORMAT_ONLY(InitKOALA, "KOALA", "koa")
OSTRIVEL_FORMAT_ONLY(InitIFF, "IFF", "iff,lbm")
OSTRIVEL_FORMAT_ONLY(InitMNG, "MNG", "mng")
OSTRIVEL_FORMAT_ONLY(InitPNM, "PNM", "pbm,pgm,ppm")
OSTRIVEL_FORMAT_ONLY(InitPCD, "PCD", "pcd")
OSTRIVEL_FORMAT_ONLY(InitPCX, "PCX", "pcx")
OSTRIVEL_FORMAT_ONLY(InitRAS, "RAS", "ras")
OSTRIVEL_FORMAT_ONLY(InitTARGA, "TARGA", "tga,targa")
OSTRIVEL_FORMAT_ONLY(InitWBMP, "WBMP", "wap,wbmp,wbm")
OSTRIVEL_FORMAT_ONLY(InitPSD, "PSD", "psd,psb")
OSTRIVEL_FORMAT_ONLY(InitCUT, "CUT", "cut")
OSTRIVEL_FORMAT_ONLY(InitXBM, "XBM", "xbm")
OSTRIVEL_FORMAT_ONLY(InitXPM, "XPM", "xpm")
OSTRIVEL_FORMAT_ONLY(InitDDS, "DDS", "dds")
OSTRIVEL_FORMAT_ONLY(InitGIF, "GIF", "gif")
OSTRIVEL_FORMAT_ONLY(InitHDR, "HDR", "hdr")
OSTRIVEL_FORMAT_ONLY(InitG3, "G3", "g3")
OSTRIVEL_FORMAT_ONLY(InitSGI, "SGI", "sgi,rgb,rgba,bw")
OSTRIVEL_FORMAT_ONLY(InitEXR, "EXR", "exr")
OSTRIVEL_FORMAT_ONLY(InitJ2K, "J2K", "j2k,j2c")
OSTRIVEL_FORMAT_ONLY(InitJP2, "JP2", "jp2")
OSTRIVEL_FORMAT_ONLY(InitPFM, "PFM", "pfm")
OSTRIVEL_FORMAT_ONLY(InitPICT, "PICT", "pct,pict,pic")
OSTRIVEL_FORMAT_ONLY(InitRAW, "RAW", "3fr,arw,bay,bmq,cap,cine,cr2,crw,cs1,dc2,dcr,drf,dsc,dng,erf,fff,ia,iiq,k25,kc2,kdc,mdc,mef,mos,mrw,nef,nrw,orf,pef,ptx,pxn,qtk,raf,raw,rdc,rw2,rwl,rwz,sr2,srf,srw,sti,x3f")
OSTRIVEL_FORMAT_ONLY(InitWEBP, "WebP", "webp")
OSTRIVEL_FORMAT_ONLY(InitJXR, "JPEG-XR", "jxr,wdp,hdp")
