// Compiles the wuffs single-file release (its GIF decoder only) with the
// benchmark's own compiler and flags. WUFFS_SOURCE names the file.
#define WUFFS_IMPLEMENTATION
#define WUFFS_CONFIG__MODULES
#define WUFFS_CONFIG__MODULE__BASE
#define WUFFS_CONFIG__MODULE__GIF
#define WUFFS_CONFIG__MODULE__LZW
#include WUFFS_SOURCE

#include <stdlib.h>

#include "wuffs_gif.h"

static int IsOk(wuffs_base__status status)
{
    return wuffs_base__status__is_ok(&status);
}

static int DecodeFrames(wuffs_gif__decoder* decoder, wuffs_base__io_buffer* src,
                        wuffs_base__pixel_buffer* canvas, uint8_t* pixels, uint32_t width,
                        wuffs_base__slice_u8 work, WuffsFrameSink sink, void* context)
{
    int frames = 0;
    for (;;) {
        wuffs_base__frame_config frame;
        wuffs_base__status status = wuffs_gif__decoder__decode_frame_config(decoder, &frame, src);
        if (status.repr == wuffs_base__note__end_of_data)
            return frames;
        if (!IsOk(status))
            return -1;
        status = wuffs_gif__decoder__decode_frame(decoder, canvas, src, WUFFS_BASE__PIXEL_BLEND__SRC,
                                                  work, NULL);
        if (!IsOk(status))
            return -1;
        if (sink) {
            wuffs_base__rect_ie_u32 r = wuffs_base__frame_config__bounds(&frame);
            sink(context, (int)r.min_incl_x, (int)r.min_incl_y, (int)(r.max_excl_x - r.min_incl_x),
                 (int)(r.max_excl_y - r.min_incl_y),
                 pixels + (size_t)r.min_incl_y * width + r.min_incl_x, width);
        }
        ++frames;
    }
}

int WuffsDecodeGif(const uint8_t* data, size_t size, WuffsFrameSink sink, void* context)
{
    wuffs_gif__decoder* decoder = wuffs_gif__decoder__alloc();
    if (!decoder)
        return -1;
    wuffs_base__io_buffer src = wuffs_base__ptr_u8__reader((uint8_t*)data, size, true);
    wuffs_base__image_config config;
    int frames = -1;
    if (IsOk(wuffs_gif__decoder__decode_image_config(decoder, &config, &src))) {
        uint32_t width = wuffs_base__pixel_config__width(&config.pixcfg);
        uint32_t height = wuffs_base__pixel_config__height(&config.pixcfg);
        wuffs_base__pixel_config__set(&config.pixcfg, WUFFS_BASE__PIXEL_FORMAT__INDEXED__BGRA_BINARY,
                                      WUFFS_BASE__PIXEL_SUBSAMPLING__NONE, width, height);
        size_t canvasBytes = WUFFS_BASE__PIXEL_FORMAT__INDEXED__PALETTE_BYTE_LENGTH +
                             (size_t)width * height;
        uint8_t* block = (uint8_t*)malloc(canvasBytes);
        uint64_t workLength = wuffs_gif__decoder__workbuf_len(decoder).max_incl;
        uint8_t* work = (uint8_t*)malloc(workLength ? (size_t)workLength : 1);
        wuffs_base__pixel_buffer canvas;
        if (block && work &&
            IsOk(wuffs_base__pixel_buffer__set_from_slice(
                &canvas, &config.pixcfg, wuffs_base__make_slice_u8(block, canvasBytes)))) {
            frames = DecodeFrames(decoder, &src, &canvas,
                                  block + WUFFS_BASE__PIXEL_FORMAT__INDEXED__PALETTE_BYTE_LENGTH,
                                  width, wuffs_base__make_slice_u8(work, (size_t)workLength), sink,
                                  context);
        }
        free(work);
        free(block);
    }
    free(decoder);
    return frames;
}
