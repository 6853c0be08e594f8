#include "preview/image_io.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfOutputFile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

namespace preview {
namespace {

std::string extension_of(const std::string& path) {
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return "";
    }
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension;
}

constexpr float background = 0.08f;

bool write_png(const Image& image, FILE* file, std::string& error) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr) {
        png_destroy_write_struct(&png, &info);
        error = "libpng could not start";
        return false;
    }
    std::vector<unsigned char> row(size_t(image.width) * 3);
    // libpng reports errors by longjmp; nothing with a destructor is made
    // between here and the end of the function but the row above.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        error = "libpng could not write the image";
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            png_pixel(&image.rgba[(size_t(y) * size_t(image.width) + size_t(x)) * 4],
                      &row[size_t(x) * 3]);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool write_exr(const Image& image, const std::string& path, std::string& error) {
    try {
        Imf::Header header(image.width, image.height);
        const char* names[4] = {"R", "G", "B", "A"};
        for (const char* name : names) {
            header.channels().insert(name, Imf::Channel(Imf::FLOAT));
        }
        Imf::OutputFile file(path.c_str(), header);
        Imf::FrameBuffer frame;
        char* base = const_cast<char*>(reinterpret_cast<const char*>(image.rgba.data()));
        for (int c = 0; c < 4; ++c) {
            frame.insert(names[c],
                         Imf::Slice(Imf::FLOAT, base + c * sizeof(float), 4 * sizeof(float),
                                    4 * sizeof(float) * size_t(image.width)));
        }
        file.setFrameBuffer(frame);
        file.writePixels(image.height);
    } catch (const std::exception& e) {
        error = std::string("OpenEXR could not write the image: ") + e.what();
        return false;
    }
    return true;
}

} // namespace

void png_pixel(const float rgba[4], unsigned char out[3]) {
    const float coverage = rgba[3];
    for (int c = 0; c < 3; ++c) {
        if (std::isnan(rgba[c])) {
            out[0] = 255, out[1] = 0, out[2] = 255;
            return;
        }
    }
    for (int c = 0; c < 3; ++c) {
        const float value = std::min(std::max(rgba[c], 0.0f), 1.0f);
        const float shown = value * coverage + background * (1.0f - coverage);
        out[c] = static_cast<unsigned char>(std::lround(shown * 255.0f));
    }
}

bool check_writable(const std::string& path, std::string& error) {
    std::string probe = path + ".partial-XXXXXX";
    std::vector<char> name(probe.begin(), probe.end());
    name.push_back('\0');
    const int descriptor = mkstemp(name.data());
    if (descriptor < 0) {
        error = "cannot create a file beside " + path;
        return false;
    }
    close(descriptor);
    std::remove(name.data());
    return true;
}

bool known_image_extension(const std::string& path) {
    const std::string extension = extension_of(path);
    return extension == "png" || extension == "exr";
}

bool write_image(const Image& image, const std::string& path, std::string& error) {
    return write_image(image, path, ImageStyle{}, error);
}

bool write_image(const Image& image, const std::string& path, const ImageStyle&,
                 std::string& error) {
    const std::string extension = extension_of(path);
    if (extension != "png" && extension != "exr") {
        error = "output " + path + " must end in .png or .exr";
        return false;
    }
    // A unique temporary name beside the target, so rename() stays in one
    // file system and is atomic. The extension stays last for OpenEXR.
    std::string temporary = path + ".partial-XXXXXX";
    std::vector<char> name(temporary.begin(), temporary.end());
    name.push_back('\0');
    const int descriptor = mkstemp(name.data());
    if (descriptor < 0) {
        error = "cannot create a file beside " + path;
        return false;
    }
    temporary = name.data();
    // mkstemp makes the file private; an image is for everyone to read.
    fchmod(descriptor, 0644);
    bool written = false;
    if (extension == "png") {
        FILE* file = fdopen(descriptor, "wb");
        if (file == nullptr) {
            close(descriptor);
            error = "cannot write " + temporary;
        } else {
            written = write_png(image, file, error);
            if (std::fclose(file) != 0 && written) {
                written = false;
                error = "cannot finish writing " + path;
            }
        }
    } else {
        close(descriptor);
        written = write_exr(image, temporary, error);
    }
    if (written && std::rename(temporary.c_str(), path.c_str()) != 0) {
        written = false;
        error = "cannot move the image into place at " + path;
    }
    if (!written) {
        std::remove(temporary.c_str());
    }
    return written;
}

} // namespace preview
