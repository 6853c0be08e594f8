#include "preview/image/image_io.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfOutputFile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include "preview/image/interrupt.h"
#include "preview/image/legend.h"

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

// The longest file name the folder of path takes (255 on most file systems).
size_t longest_name(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? size_t(limit) : 255;
}

// The name of temporary file `attempt` beside path: "NAME.partial-PID-N",
// the output's own name shortened as far as it must be for the whole to
// stay within the folder's limit on a name, so that it fits wherever the
// output's name does.
std::string partial_name(const std::string& path, int attempt) {
    const std::string suffix =
        ".partial-" + std::to_string(long(getpid())) + "-" + std::to_string(attempt);
    const size_t slash = path.rfind('/');
    const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    const size_t limit = longest_name(path);
    const size_t name_length = path.size() - name_start;
    const size_t kept =
        name_length + suffix.size() <= limit ? name_length : limit - std::min(limit, suffix.size());
    return path.substr(0, name_start + kept) + suffix;
}

// A temporary file beside path (so that rename() stays in one file system
// and is atomic), named to the interrupt handler from before it exists until
// forget_partial is called; -1 when none can be made, errno saying why. The
// name is registered first and the file then created exclusively, so no
// signal can fall between its creation and its registration. The process id
// keeps the names of concurrent runs apart; a stale file of the same name is
// stepped over.
int create_partial(const std::string& path, std::string& temporary) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = partial_name(path, attempt);
        set_partial_file(name.c_str());
        const int descriptor = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (descriptor >= 0) {
            temporary = name;
            return descriptor;
        }
        const int reason = errno;
        set_partial_file(nullptr);
        errno = reason;
        if (errno != EEXIST) {
            break;
        }
    }
    return -1;
}

// "cannot create a file beside PATH: REASON", errno's text as the reason.
std::string cannot_create(const std::string& path) {
    return "cannot create a file beside " + path + ": " + std::strerror(errno);
}

// Called only once the file has been renamed or removed: until then an
// interrupt must still find it.
void forget_partial() {
    set_partial_file(nullptr);
}

bool write_png(const Image& image, const ImageStyle& style, FILE* file, std::string& error) {
    // The whole image in 8-bit RGBA first, so the legend can be drawn over it.
    std::vector<unsigned char> pixels(size_t(image.width) * size_t(image.height) * 4);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        png_pixel(&image.rgba[i], style, &pixels[i]);
    }
    if (style.legend) {
        draw_legend(pixels, image.width, image.height, style.parameters, style.colormap,
                    style.background);
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr) {
        png_destroy_write_struct(&png, &info);
        error = "libpng could not start";
        return false;
    }
    // libpng reports errors by longjmp; nothing with a destructor is made
    // between here and the end of the function.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        error = "libpng could not write the image";
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height), 8,
                 style.transparent ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (!style.transparent) {
        // The rows are RGBA; libpng drops the fourth byte of each pixel.
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    }
    for (int y = 0; y < image.height; ++y) {
        png_write_row(png, &pixels[size_t(y) * size_t(image.width) * 4]);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool write_exr(const Image& image, const std::string& path, std::string& error) {
    const size_t pixels = size_t(image.width) * size_t(image.height);
    struct Layer {
        const char* name;
        const std::vector<float>& values;
    };
    const Layer layers[3] = {
        {"measure.h", image.measure}, {"measure.k1", image.k1}, {"measure.k2", image.k2}};
    for (const Layer& layer : layers) {
        if (!layer.values.empty() && layer.values.size() != pixels) {
            error = std::string("the image's ") + layer.name + " layer is not the image's size";
            return false;
        }
    }
    // OpenEXR's colour is premultiplied by alpha: a half-covered edge pixel
    // holds half its colour, as a compositor adding layers over each other
    // expects. The raw layers are data and stay as they are.
    std::vector<float> premultiplied(image.rgba);
    for (size_t i = 0; i < premultiplied.size(); i += 4) {
        for (size_t c = 0; c < 3; ++c) {
            premultiplied[i + c] *= premultiplied[i + 3];
        }
    }
    try {
        Imf::Header header(image.width, image.height);
        const char* names[4] = {"R", "G", "B", "A"};
        for (const char* name : names) {
            header.channels().insert(name, Imf::Channel(Imf::FLOAT));
        }
        for (const Layer& layer : layers) {
            if (!layer.values.empty()) {
                header.channels().insert(layer.name, Imf::Channel(Imf::FLOAT));
            }
        }
        Imf::OutputFile file(path.c_str(), header);
        Imf::FrameBuffer frame;
        char* base = reinterpret_cast<char*>(premultiplied.data());
        for (size_t c = 0; c < 4; ++c) {
            frame.insert(names[c],
                         Imf::Slice(Imf::FLOAT, base + c * sizeof(float), 4 * sizeof(float),
                                    4 * sizeof(float) * size_t(image.width)));
        }
        for (const Layer& layer : layers) {
            if (!layer.values.empty()) {
                char* values =
                    const_cast<char*>(reinterpret_cast<const char*>(layer.values.data()));
                frame.insert(layer.name, Imf::Slice(Imf::FLOAT, values, sizeof(float),
                                                    sizeof(float) * size_t(image.width)));
            }
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

void png_pixel(const float rgba[4], const ImageStyle& style, unsigned char out[4]) {
    // A NaN is a fault to be seen: full magenta, opaque, whatever its coverage.
    if (std::isnan(rgba[0]) || std::isnan(rgba[1]) || std::isnan(rgba[2])) {
        out[0] = 255, out[1] = 0, out[2] = 255, out[3] = 255;
        return;
    }
    const float coverage = std::min(std::max(rgba[3], 0.0f), 1.0f);
    if (style.transparent && coverage == 0.0f) {
        out[0] = out[1] = out[2] = out[3] = 0; // nothing there: no colour either
        return;
    }
    float colour[3];
    if (style.colormap == ImageStyle::Colormap::grey) {
        // Grey shows each channel as it is, as it always has.
        for (int c = 0; c < 3; ++c) {
            colour[c] = std::min(std::max(rgba[c], 0.0f), 1.0f);
        }
    } else {
        map_colour(rgba[0], style.colormap, style.parameters.mapping, colour);
    }
    for (int c = 0; c < 3; ++c) {
        const float shown = style.transparent
                                ? colour[c]
                                : colour[c] * coverage + style.background[c] * (1.0f - coverage);
        // fmin and fmax drop a NaN: a bad background cannot reach lround.
        out[c] = static_cast<unsigned char>(
            std::lround(std::fmin(std::fmax(shown, 0.0f), 1.0f) * 255.0f));
    }
    out[3] =
        static_cast<unsigned char>(std::lround((style.transparent ? coverage : 1.0f) * 255.0f));
}

void png_pixel(const float rgba[4], unsigned char out[3]) {
    unsigned char with_alpha[4];
    png_pixel(rgba, ImageStyle{}, with_alpha);
    std::memcpy(out, with_alpha, 3);
}

bool check_writable(const std::string& path, std::string& error) {
    // The image could be made but not moved into place over a folder.
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        error = "cannot write the image to " + path + ": it is a folder";
        return false;
    }
    std::string temporary;
    const int descriptor = create_partial(path, temporary);
    if (descriptor < 0) {
        error = cannot_create(path);
        return false;
    }
    close(descriptor);
    std::remove(temporary.c_str());
    forget_partial();
    return true;
}

bool known_image_extension(const std::string& path) {
    const std::string extension = extension_of(path);
    return extension == "png" || extension == "exr";
}

bool is_exr_path(const std::string& path) {
    return extension_of(path) == "exr";
}

bool write_image(const Image& image, const std::string& path, std::string& error) {
    return write_image(image, path, ImageStyle{}, error);
}

bool write_image(const Image& image, const std::string& path, const ImageStyle& style,
                 std::string& error) {
    const std::string extension = extension_of(path);
    if (extension != "png" && extension != "exr") {
        error = "output " + path + " must end in .png or .exr";
        return false;
    }
    if (image.width <= 0 || image.height <= 0 ||
        image.rgba.size() != size_t(image.width) * size_t(image.height) * 4) {
        error = "the image to write to " + path + " is empty or not its stated size";
        return false;
    }
    std::string temporary;
    const int descriptor = create_partial(path, temporary);
    if (descriptor < 0) {
        error = cannot_create(path);
        return false;
    }
    bool written = false;
    if (extension == "png") {
        FILE* file = fdopen(descriptor, "wb");
        if (file == nullptr) {
            close(descriptor);
            error = "cannot write " + temporary;
        } else {
            written = write_png(image, style, file, error);
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
        error = "cannot move the image into place at " + path + ": " + std::strerror(errno);
    }
    if (!written) {
        std::remove(temporary.c_str());
    }
    forget_partial();
    return written;
}

} // namespace preview
