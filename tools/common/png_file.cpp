// 8-bit RGB pixels to and from PNG files through libpng: the capture tool's stills, the tests' pictures and the
// frame comparison.
#include "png_file.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// libpng's errors become the caller's message instead of a line on stderr; its warnings are dropped.
void keep_png_error(png_structp png, png_const_charp message)
{
    *static_cast<std::string*>(png_get_error_ptr(png)) = message;
    png_longjmp(png, 1);
}

void drop_png_warning(png_structp, png_const_charp) { }

}   // namespace

bool write_png(const std::string& path, int width, int height, const unsigned char* rgb, RowOrder order,
               std::string* error)
{
    const auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (width <= 0 || height <= 0)
        return fail("no pixels to write");
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return fail(strerror(errno));

    // Declared before libpng can jump back, so that the jump leaves it whole.
    std::string png_message = "libpng could not encode the image";
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &png_message, keep_png_error, drop_png_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    errno = 0;
    // libpng reports its own errors by jumping back here; a failed write says why through errno (a full disk).
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        const int write_error = errno;
        png_destroy_write_struct(&png, &info);
        fclose(file);
        return fail(write_error ? strerror(write_error) : png_message);
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const size_t row_bytes = 3 * static_cast<size_t>(width);
    for (int row = 0; row < height; row++) {
        const int source = order == RowOrder::top_down ? row : height - 1 - row;
        png_write_row(png, rgb + static_cast<size_t>(source) * row_bytes);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    if (fclose(file) != 0)
        return fail(strerror(errno));
    return true;
}

bool read_png(const std::string& path, int* width, int* height, std::vector<unsigned char>* rgb, std::string* error)
{
    const auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return fail(strerror(errno));
    // Declared before libpng can jump back, so that the jump leaves them whole.
    std::vector<unsigned char> pixels;
    std::vector<png_bytep> rows;
    std::string png_message = "libpng could not decode the image";
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &png_message, keep_png_error, drop_png_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    // libpng reports its own errors by jumping back here.
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        fclose(file);
        return fail(png_message);
    }
    png_init_io(png, file);
    png_read_info(png, info);
    // Whatever the file holds becomes 8 bits per channel, three channels, rows in order.
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_uint_32 columns = png_get_image_width(png, info), row_count = png_get_image_height(png, info);
    const size_t row_bytes = 3 * static_cast<size_t>(columns);
    pixels.resize(row_bytes * row_count);
    for (png_uint_32 row = 0; row < row_count; row++)
        rows.push_back(pixels.data() + row * row_bytes);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(file);
    *width = static_cast<int>(columns);
    *height = static_cast<int>(row_count);
    *rgb = std::move(pixels);
    return true;
}
