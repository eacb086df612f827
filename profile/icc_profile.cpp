#include "icc_profile.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>  // before jpeglib.h, which needs it
#include <cstdlib>
#include <cstring>
#include <memory>

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>
#include <tiffio.h>
#include <webp/demux.h>

namespace {

using Profile = std::vector<unsigned char>;

// An ICC profile's header, before its tag count.
constexpr std::size_t kIccHeaderBytes = 128;
// What libpng's reader adds to a profile's length when it checks it
// against its memory limit: the header and the tag count.
constexpr std::size_t kPngProfileOverhead = kIccHeaderBytes + 4;
// The name the libpng check gives the profile; any valid one does.
constexpr const char* kCheckName = "ICC profile";
// The first read from a source: a JPEG's or PNG's headers, profile
// included, mostly fit, so that a large photograph is not read further.
constexpr std::size_t kFirstRead = std::size_t{64} << 10;

// The file being read: all of it in memory, or what its source gave so far.
struct Input {
    const ByteSource* source;  // null when all of the file is at `bytes`
    const unsigned char* bytes;
    std::size_t size;
    std::vector<unsigned char> buffer;  // what the source gave, at its start
    bool ended;                         // the source gives no more
};

// Reads from the source, a doubling buffer at a time, until its first `end`
// bytes are in, or it ends, fails or memory runs out. Returns whether they
// are in. Never throws: the libraries' callbacks call it.
bool reach(Input& input, std::size_t end) noexcept
{
    try {
        while (input.size < end && !input.ended) {
            if (input.buffer.size() == input.size) {
                input.buffer.resize(std::max(kFirstRead, 2 * input.size));
            }
            const long long got = (*input.source)(input.buffer.data() + input.size, input.buffer.size() - input.size);
            input.ended = got <= 0;
            input.size += input.ended ? 0 : static_cast<std::size_t>(got);
            input.bytes = input.buffer.data();
        }
    } catch (...) {
        input.ended = true;
    }
    return input.size >= end;
}

// `offset` + `size` without overflowing: past any file when it would.
std::size_t endOf(std::uint64_t offset, std::uint64_t size)
{
    const std::uint64_t end = offset + size;
    return end < offset || end > SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(end);
}

std::uint32_t bigEndian(const unsigned char* at)
{
    return std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 | std::uint32_t{at[2]} << 8 | at[3];
}

// A profile copied with malloc, so that the functions that a library's
// error may leave by longjmp hold nothing with a destructor.
struct Copy {
    unsigned char* bytes;
    std::size_t size;
};

Copy copyOf(const void* bytes, std::size_t size)
{
    auto* copy = static_cast<unsigned char*>(std::malloc(std::max<std::size_t>(size, 1)));
    if (copy != nullptr && size > 0) {
        std::memcpy(copy, bytes, size);
    }
    return {copy, copy != nullptr ? size : 0};
}

Profile adopt(Copy copy)
{
    const std::unique_ptr<unsigned char, decltype(&std::free)> owned(copy.bytes, std::free);
    return copy.bytes != nullptr ? Profile(copy.bytes, copy.bytes + copy.size) : Profile();
}

// --- JPEG: libjpeg-turbo ---

// Errors leave by longjmp; warnings are not shown.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void jpegFailed(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

void jpegQuiet(j_common_ptr) {}

// A source manager that gives libjpeg the input as it is read. libjpeg
// asks for more only once it has used all it was given, so the buffer may
// move meanwhile.
struct JpegSource {
    jpeg_source_mgr manager;
    Input* input;
    std::size_t offset;  // the bytes given so far
};

void jpegStart(j_decompress_ptr) {}

boolean jpegFill(j_decompress_ptr info)
{
    auto* source = reinterpret_cast<JpegSource*>(info->src);
    Input& input = *source->input;
    reach(input, endOf(source->offset, kFirstRead));
    if (input.size <= source->offset) {
        ERREXIT(info, JERR_INPUT_EOF);  // a file that ends before its image data: no profile
    }
    source->manager.next_input_byte = input.bytes + source->offset;
    source->manager.bytes_in_buffer = input.size - source->offset;
    source->offset = input.size;
    return TRUE;
}

void jpegSkip(j_decompress_ptr info, long count)
{
    jpeg_source_mgr& manager = *info->src;
    auto left = static_cast<std::size_t>(std::max(count, 0L));
    while (left > manager.bytes_in_buffer) {
        left -= manager.bytes_in_buffer;
        manager.bytes_in_buffer = 0;
        jpegFill(info);
    }
    manager.next_input_byte += left;
    manager.bytes_in_buffer -= left;
}

// The profile of a JPEG file as jpeg_read_icc_profile joins it (malloc'd
// by libjpeg-turbo), read up to the start of its image data; null when it
// has none or libjpeg-turbo fails.
Copy jpegProfile(Input& input)
{
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    JpegSource source{{}, &input, 0};
    source.manager.init_source = jpegStart;
    source.manager.fill_input_buffer = jpegFill;
    source.manager.skip_input_data = jpegSkip;
    source.manager.resync_to_restart = jpeg_resync_to_restart;
    source.manager.term_source = jpegStart;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jpegFailed;
    errors.manager.output_message = jpegQuiet;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return {nullptr, 0};
    }
    jpeg_create_decompress(&info);
    info.src = &source.manager;
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    JOCTET* profile = nullptr;
    unsigned int size = 0;
    if (!jpeg_read_icc_profile(&info, &profile, &size)) {
        profile = nullptr;
        size = 0;
    }
    jpeg_destroy_decompress(&info);
    return {profile, size};
}

// --- PNG: libpng ---

[[noreturn]] void pngFailed(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void pngQuiet(png_structp, png_const_charp) {}

// A warning, as OpenCV would show it when it reads the file, marks the
// check failed.
void pngWarned(png_structp png, png_const_charp)
{
    *static_cast<bool*>(png_get_error_ptr(png)) = true;
}

struct PngSource {
    Input* input;
    std::size_t offset;
};

void pngRead(png_structp png, png_bytep out, std::size_t size)
{
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (!reach(*source->input, endOf(source->offset, size))) {
        png_error(png, "the file ends");
    }
    std::memcpy(out, source->input->bytes + source->offset, size);
    source->offset += size;
}

// The profile of a PNG file's iCCP chunk as png_get_iCCP gives it, read up
// to the first image data; null when it has none or libpng fails.
Copy pngProfile(Input& input)
{
    PngSource source{&input, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngFailed, pngQuiet);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_read_struct(&png, &info, nullptr);
        return {nullptr, 0};
    }
    png_set_read_fn(png, &source, pngRead);
    png_read_info(png, info);
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 size = 0;
    Copy copy{nullptr, 0};
    if (png_get_iCCP(png, info, &name, &compression, &profile, &size) != 0) {
        copy = copyOf(profile, size);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return copy;
}

// Whether libpng takes `profile` for an 8-bit RGB image, without an error
// or a warning: png_set_iCCP runs the checks that its reader runs on an
// iCCP chunk (length, header, tag table, the faulty profiles it knows),
// and its reader refuses a profile that its limit on a chunk's memory,
// PNG_USER_CHUNK_MALLOC_MAX, cannot hold.
bool pngTakes(const Profile& profile)
{
#if PNG_USER_CHUNK_MALLOC_MAX > 0
    if (profile.size() + kPngProfileOverhead > PNG_USER_CHUNK_MALLOC_MAX) {
        return false;
    }
#endif
    bool warned = false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &warned, pngFailed, pngWarned);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_IHDR(png, info, 1, 1, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
                 PNG_FILTER_TYPE_BASE);
    png_set_iCCP(png, info, kCheckName, PNG_COMPRESSION_TYPE_BASE, profile.data(),
                 static_cast<png_uint_32>(profile.size()));
    const bool taken = !warned && png_get_valid(png, info, PNG_INFO_iCCP) != 0;
    png_destroy_write_struct(&png, &info);
    return taken;
}

// --- TIFF: libtiff, through procedures that read the input as asked ---

struct TiffSource {
    Input* input;
    std::uint64_t offset;
};

tmsize_t tiffRead(thandle_t handle, void* out, tmsize_t size)
{
    auto* source = static_cast<TiffSource*>(handle);
    Input& input = *source->input;
    reach(input, endOf(source->offset, static_cast<std::uint64_t>(std::max<tmsize_t>(size, 0))));
    const std::size_t left = source->offset < input.size ? input.size - static_cast<std::size_t>(source->offset) : 0;
    const std::size_t got = std::min(left, static_cast<std::size_t>(std::max<tmsize_t>(size, 0)));
    if (got > 0) {
        std::memcpy(out, input.bytes + source->offset, got);
        source->offset += got;
    }
    return static_cast<tmsize_t>(got);
}

tmsize_t tiffWrite(thandle_t, void*, tmsize_t)
{
    return 0;
}

toff_t tiffSize(thandle_t handle)
{
    Input& input = *static_cast<TiffSource*>(handle)->input;
    reach(input, SIZE_MAX);
    return input.size;
}

toff_t tiffSeek(thandle_t handle, toff_t offset, int whence)
{
    auto* source = static_cast<TiffSource*>(handle);
    const std::uint64_t from = whence == SEEK_CUR ? source->offset : whence == SEEK_END ? tiffSize(handle) : 0;
    source->offset = from + offset;
    return source->offset;
}

int tiffClose(thandle_t)
{
    return 0;
}

int tiffMap(thandle_t, void**, toff_t*)
{
    return 0;
}

void tiffUnmap(thandle_t, void*, toff_t) {}

int tiffQuiet(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;  // handled: libtiff's own handler shows nothing either
}

// The profile of a TIFF file's first image (TIFFTAG_ICCPROFILE), read up to
// its tags; empty when it has none or libtiff fails.
Profile tiffProfile(Input& input)
{
    TiffSource source{&input, 0};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        return Profile();
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, tiffQuiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, tiffQuiet, nullptr);
    TIFF* tiff = TIFFClientOpenExt("input", "rm", &source, tiffRead, tiffWrite, tiffSeek, tiffClose, tiffSize, tiffMap,
                                   tiffUnmap, options);
    TIFFOpenOptionsFree(options);
    if (tiff == nullptr) {
        return Profile();
    }
    std::uint32_t size = 0;
    void* profile = nullptr;
    Copy copy{nullptr, 0};
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &size, &profile) != 0 && profile != nullptr) {
        copy = copyOf(profile, size);
    }
    TIFFClose(tiff);
    return adopt(copy);
}

// --- WebP: libwebp's demux, on the whole file ---

Profile webpProfile(Input& input)
{
    reach(input, SIZE_MAX);
    const WebPData data{input.bytes, input.size};
    WebPDemuxer* demux = WebPDemux(&data);
    if (demux == nullptr) {
        return Profile();
    }
    WebPChunkIterator chunk{};
    Copy copy{nullptr, 0};
    if (WebPDemuxGetChunk(demux, "ICCP", 1, &chunk) != 0) {
        copy = copyOf(chunk.chunk.bytes, chunk.chunk.size);
    }
    WebPDemuxReleaseChunkIterator(&chunk);
    WebPDemuxDelete(demux);
    return adopt(copy);
}

// --- The format, and the profile's checks ---

bool startsWith(const Input& input, const char* signature, std::size_t size, std::size_t at = 0)
{
    return input.size >= at + size && std::memcmp(input.bytes + at, signature, size) == 0;
}

Profile embeddedProfile(Input& input)
{
    reach(input, 12);
    if (startsWith(input, "\xff\xd8\xff", 3)) {
        return adopt(jpegProfile(input));
    }
    if (startsWith(input, "\x89PNG\r\n\x1a\n", 8)) {
        return adopt(pngProfile(input));
    }
    if (startsWith(input, "II*\0", 4) || startsWith(input, "MM\0*", 4) || startsWith(input, "II+\0", 4) ||
        startsWith(input, "MM\0+", 4)) {
        return tiffProfile(input);
    }
    if (startsWith(input, "RIFF", 4) && startsWith(input, "WEBP", 4, 8)) {
        return webpProfile(input);
    }
    return Profile();
}

bool whollyRgb(const Profile& profile)
{
    return profile.size() >= kIccHeaderBytes && profile.size() <= kMaxIccProfileBytes &&
           bigEndian(profile.data()) == profile.size() && std::memcmp(profile.data() + 16, "RGB ", 4) == 0 &&
           pngTakes(profile);
}

Profile rgbProfile(Input& input)
{
    try {
        Profile profile = embeddedProfile(input);
        if (!whollyRgb(profile)) {
            profile.clear();
        }
        return profile;
    } catch (...) {
        return Profile();  // memory ran out
    }
}

} // namespace

std::vector<unsigned char> readRgbIccProfile(const ByteSource& source)
{
    Input input{&source, nullptr, 0, std::vector<unsigned char>(), false};
    return rgbProfile(input);
}

std::vector<unsigned char> readRgbIccProfile(const unsigned char* bytes, std::size_t size)
{
    Input input{nullptr, bytes, size, std::vector<unsigned char>(), true};
    return rgbProfile(input);
}
