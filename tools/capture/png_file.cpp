// Writing 8-bit RGB pixels as a PNG file through libpng: the capture tool's stills and the tests' pictures.
#include "png_file.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    // libpng reports its own errors by jumping back here.
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(file);
        return fail("libpng could not encode the image");
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
