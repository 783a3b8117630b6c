#include "JpegImage.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace kelvo {
namespace {

// libjpeg reports fatal errors through error_exit, which must not return.
// It jumps back to the setjmp in DecodeInto instead of ending the process.
struct ErrorManager
{
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void onFatalError(j_common_ptr cinfo)
{
    auto *manager = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, manager->message);
    std::longjmp(manager->jump, 1);
}

// Warnings (such as a premature end of the data) are not printed: the
// decoder goes on with what it has.
extern "C" void onMessage(j_common_ptr)
{
}

// Refuses progressive pictures with an unreasonable number of scans, which
// would otherwise keep the decoder busy for a very long time.
struct ScanLimit
{
    jpeg_progress_mgr pub;
    ErrorManager *errors;
};

extern "C" void onProgress(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor)
        return;
    auto *dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (dinfo->input_scan_number > MaxJpegScans) {
        auto *limit = reinterpret_cast<ScanLimit *>(cinfo->progress);
        std::snprintf(limit->errors->message, sizeof limit->errors->message, "too many scans (more than %d)",
                      MaxJpegScans);
        jpeg_destroy(cinfo);
        std::longjmp(limit->errors->jump, 2);
    }
}

// Everything between setjmp and a possible longjmp lives in plain C
// structures; the QImage is owned by the caller and reached through a
// pointer, so a jump never skips a C++ destructor or leaves it in a register.
bool DecodeInto(const unsigned char *bytes, unsigned long size, QImage *image, char *reason, size_t reasonSize)
{
    jpeg_decompress_struct cinfo;
    ErrorManager errors;
    ScanLimit limit;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = onFatalError;
    errors.pub.output_message = onMessage;
    errors.message[0] = '\0';
    limit.pub.progress_monitor = onProgress;
    limit.errors = &errors;

    const int jumped = setjmp(errors.jump);
    if (jumped != 0) {
        if (jumped == 1)
            jpeg_destroy_decompress(&cinfo);
        std::snprintf(reason, reasonSize, "%s", errors.message);
        return false;
    }

    jpeg_create_decompress(&cinfo);
    cinfo.progress = &limit.pub;
    // Bounds the decoder's own working memory (progressive coefficient buffers).
    cinfo.mem->max_memory_to_use = 256L * 1024 * 1024;
    jpeg_mem_src(&cinfo, bytes, size);
    jpeg_read_header(&cinfo, TRUE);

    const qint64 pixels = qint64(cinfo.image_width) * qint64(cinfo.image_height);
    if (cinfo.image_width == 0 || cinfo.image_height == 0 || pixels > MaxJpegPixels) {
        std::snprintf(reason, reasonSize, "picture of %u x %u pixels is too large", cinfo.image_width,
                      cinfo.image_height);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }

    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 3) {
        std::snprintf(reason, reasonSize, "unexpected colour layout");
        jpeg_destroy_decompress(&cinfo);
        return false;
    }

    *image = QImage(int(cinfo.output_width), int(cinfo.output_height), QImage::Format_RGB888);
    if (image->isNull()) {
        std::snprintf(reason, reasonSize, "out of memory");
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image->scanLine(int(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

QImage DecodeJpeg(QByteArrayView data, QString *error)
{
    QImage image;
    char reason[JMSG_LENGTH_MAX + 64] = {};
    bool ok = false;
    if (data.isEmpty())
        std::snprintf(reason, sizeof reason, "no data");
    else
        ok = DecodeInto(reinterpret_cast<const unsigned char *>(data.data()), static_cast<unsigned long>(data.size()),
                        &image, reason, sizeof reason);
    if (!ok) {
        if (error)
            *error = QString::fromLocal8Bit(reason);
        return QImage();
    }
    if (error)
        error->clear();
    return image;
}

} // namespace kelvo
