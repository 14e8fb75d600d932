/* libtiff is built without its own file layer (tif_win32.c): FreeImage's TIFF
   plugin provides TIFFOpen, the allocator and the message handlers. This
   libtiff also asks for _TIFFcalloc, which FreeImage's older layer lacks. */
#include <stdlib.h>
#include <tiffio.h>

void* _TIFFcalloc(tmsize_t nmemb, tmsize_t siz) {
    if (nmemb == 0 || siz == 0) return NULL;
    return calloc((size_t)nmemb, (size_t)siz);
}
