// JPEG through libjpeg, read from the image stream by a source manager of our own. libjpeg's
// errors end in AbortJpegDecode, which jumps back to the decoder: nothing between the jump
// point and the libjpeg calls may need a destructor, and what the decoder allocates is
// recorded for the caller to free.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

#include "quarn/core/core.h"
#include "quarn/image/image_decode.h"

namespace {

constexpr uint32_t kInputBufferBytes = 4096;

struct JpegErrorRecord {
    jpeg_error_mgr manager;  // first, so that the decompressor's error pointer is the record's
    jmp_buf jump;
};

struct JpegSource {
    jpeg_source_mgr manager;  // first, for the same reason
    JOCTET* buffer;           // kInputBufferBytes, from libjpeg's permanent pool
    boolean startOfFile;
    ImageReader* reader;
    uint32_t left;  // bytes of the stream not yet in the buffer
};

JpegSource* SourceOf(j_decompress_ptr cinfo) { return reinterpret_cast<JpegSource*>(cinfo->src); }

// libjpeg's messages go to the library's log.
void LogJpegMessage(j_common_ptr cinfo)
{
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    AppendLogFormat(L"JPEG画像: %s", text);
}

void AbortJpegDecode(j_common_ptr cinfo)
{
    (*cinfo->err->output_message)(cinfo);
    longjmp(reinterpret_cast<JpegErrorRecord*>(cinfo->err)->jump, 1);
}

void StartJpegStreamSource(j_decompress_ptr cinfo) { SourceOf(cinfo)->startOfFile = TRUE; }

// The next 4 KB; past the end an end-of-image marker, so that a cut file decodes as far as
// it goes (an empty one is an error).
boolean FillJpegStreamBuffer(j_decompress_ptr cinfo)
{
    JpegSource* src = SourceOf(cinfo);
    uint32_t bytes = src->left < kInputBufferBytes ? src->left : kInputBufferBytes;
    if (bytes > 0 && ReadImageBytes(src->reader, src->buffer, bytes) != 0) bytes = src->left = 0;
    if (bytes == 0) {
        if (src->startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        bytes = 2;
    } else {
        src->left -= bytes;
    }
    src->manager.next_input_byte = src->buffer;
    src->manager.bytes_in_buffer = bytes;
    src->startOfFile = FALSE;
    return TRUE;
}

void SkipJpegStreamBytes(j_decompress_ptr cinfo, long count)
{
    if (count <= 0) return;
    JpegSource* src = SourceOf(cinfo);
    while (count > long(src->manager.bytes_in_buffer)) {
        count -= long(src->manager.bytes_in_buffer);
        FillJpegStreamBuffer(cinfo);
    }
    src->manager.next_input_byte += count;
    src->manager.bytes_in_buffer -= size_t(count);
}

void EndJpegStreamSource(j_decompress_ptr) {}

void AttachJpegStream(j_decompress_ptr cinfo, ImageReader* reader)
{
    if (!cinfo->src) {
        auto* src = static_cast<JpegSource*>(
            (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(JpegSource)));
        src->buffer = static_cast<JOCTET*>(
            (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, kInputBufferBytes));
        cinfo->src = &src->manager;
    }
    JpegSource* src = SourceOf(cinfo);
    src->manager.init_source = StartJpegStreamSource;
    src->manager.fill_input_buffer = FillJpegStreamBuffer;
    src->manager.skip_input_data = SkipJpegStreamBytes;
    src->manager.resync_to_restart = jpeg_resync_to_restart;
    src->manager.term_source = EndJpegStreamSource;
    src->manager.bytes_in_buffer = 0;
    src->manager.next_input_byte = nullptr;
    src->reader = reader;
    const int64_t left = MeasureImageStream(reader);
    src->left = left > 0 ? uint32_t(left) : 0;
}

// The part of the decode that libjpeg may leave through AbortJpegDecode.
int ReadJpegRows(j_decompress_ptr cinfo, ImageReader* r, DecodeAllocations* a, BaseImage* out)
{
    jpeg_create_decompress(cinfo);
    // libjpeg's own working memory is held to the same limit as the image.
    cinfo->mem->max_memory_to_use = long(DecodeByteLimit());
    AttachJpegStream(cinfo, r);
    jpeg_read_header(cinfo, TRUE);
    if (cinfo->jpeg_color_space == JCS_GRAYSCALE) {
        cinfo->out_color_space = JCS_GRAYSCALE;
    } else if (cinfo->jpeg_color_space == JCS_YCbCr || cinfo->jpeg_color_space == JCS_RGB) {
#ifdef JCS_EXTENSIONS
        cinfo->out_color_space = JCS_EXT_BGR;
#else
        cinfo->out_color_space = JCS_RGB;
#endif
    } else {
        return RefuseImageData(L"JPEG", L"対応していない色空間です");
    }
    if (!FitsDecodeLimit(uint64_t(cinfo->image_width) * cinfo->image_height * cinfo->num_components))
        return RefuseImageData(L"JPEG", L"画像が大きすぎます");
    jpeg_start_decompress(cinfo);
    const uint32_t stride = cinfo->output_components * cinfo->output_width;
    if (!(out->pixels = AllocImagePixels(a, uint64_t(stride) * cinfo->output_height)))
        return RefuseImageData(L"JPEG", L"メモリの確保に失敗しました");
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = out->pixels + std::ptrdiff_t(cinfo->output_scanline) * stride;
        jpeg_read_scanlines(cinfo, &row, 1);
#ifndef JCS_EXTENSIONS
        if (cinfo->output_components == 3)
            for (uint32_t i = 0; i < stride; i += 3) {
                const JSAMPLE red = row[i];
                row[i] = row[i + 2];
                row[i + 2] = red;
            }
#endif
    }
    jpeg_finish_decompress(cinfo);
    if (cinfo->output_components == 1) SetupGrey8Format(&out->format);
    else SetupRgb888Format(&out->format);
    out->width = int32_t(cinfo->output_width);
    out->height = int32_t(cinfo->output_height);
    out->pitch = int32_t(stride);
    return 0;
}

int ReadJpeg(ImageReader* r, DecodeAllocations* a, BaseImage* out)
{
    uint8_t start[2];
    if (ReadImageBytes(r, start, 2) != 0 || start[0] != 0xFF || start[1] != 0xD8 || SeekImage(r, 0) != 0) return -1;
    jpeg_decompress_struct cinfo;
    JpegErrorRecord error;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = AbortJpegDecode;
    error.manager.output_message = LogJpegMessage;
    volatile int result = -1;
    if (setjmp(error.jump) == 0) result = ReadJpegRows(&cinfo, r, a, out);
    jpeg_destroy_decompress(&cinfo);
    return result;
}

}  // namespace

int DecodeJpegStream(const ImageStream* stream, BaseImage* out) { return RunImageDecoder(ReadJpeg, stream, out); }
