# Sourced by the interpreter builds. Debian strips the jpegxr library from
# its ghostscript source; GhostXPS only needs it for JPEG XR images, which
# these builds report as unsupported. Run in the GhostPDL source folder.
stub_jpegxr() {
  sed -i -e 's/\$(JPEGXR_GENDIR)\$(D)jpegxr\.dev//g' xps/xps.mak
  cat > xps/xpsjxr.c <<'CEOF'
/* JPEG XR images are not supported in this build: the decoder library is absent. */
#include "ghostxps.h"

int
xps_decode_jpegxr(xps_context_t *ctx, byte *buf, int len, xps_image_t *image)
{
    (void)buf; (void)len; (void)image;
    return gs_throw(-1, "JPEG XR images are not supported");
}

int
xps_jpegxr_has_alpha(xps_context_t *ctx, byte *buf, int len)
{
    (void)ctx; (void)buf; (void)len;
    return 0;
}
CEOF
}
