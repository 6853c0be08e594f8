// The images as files: the PNG's colours, alpha and legend, and the rows of
// a PNG deflated in slices, read back with libpng, the EXR's premultiplied colour and raw layers
// read back with OpenEXR, and no temporary file left by an interrupted write.
#include <gtest/gtest.h>

#include <dirent.h>
#include <png.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "preview/image/image_io.h"
#include "preview/image/interrupt.h"
#include "preview/image/legend.h"
#include "preview/image/png_slices.h"
#include "preview/image/texture.h"

namespace {

using preview::Image;
using preview::ImageStyle;

Image row_image(const std::vector<float>& rgba) {
    Image image;
    image.width = int(rgba.size() / 4);
    image.height = 1;
    image.rgba = rgba;
    return image;
}

using Pixel = std::vector<unsigned char>;

// The PNG at path as 8-bit RGBA pixels; has_alpha: whether the file has alpha.
std::vector<Pixel> read_png(const std::string& path, bool& has_alpha) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    EXPECT_TRUE(png_image_begin_read_from_file(&png, path.c_str())) << path;
    has_alpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    png.format = PNG_FORMAT_RGBA;
    std::vector<unsigned char> bytes(PNG_IMAGE_SIZE(png));
    EXPECT_TRUE(png_image_finish_read(&png, nullptr, bytes.data(), 0, nullptr)) << path;
    std::vector<Pixel> pixels;
    for (size_t i = 0; i < bytes.size(); i += 4) {
        pixels.push_back({bytes[i], bytes[i + 1], bytes[i + 2], bytes[i + 3]});
    }
    return pixels;
}

// Transparent: alpha is coverage and the colour is not premultiplied; the
// diverging map is white at 0.5, blue and red at its ends; NaN stays
// magenta. Opaque: no alpha in the file, the background where nothing was
// hit; the one-sided maps start white and end on their side's colour.
TEST(PngOutput, AlphaBackgroundAndColourMapsReadBackWithLibpng) {
    const Image image = row_image({0.5f, 0.5f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f,
                                   1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, NAN,  NAN,  NAN,  0.25f});
    const std::string path = ::testing::TempDir() + "bendlens_image_test.png";
    const Pixel white{255, 255, 255, 255}, blue{59, 76, 192, 255}, red{180, 4, 38, 255};
    ImageStyle style;
    style.colormap = ImageStyle::Colormap::diverging;
    style.transparent = true;
    std::string error;
    bool has_alpha = false;
    ASSERT_TRUE(preview::write_image(image, path, style, error)) << error;
    std::vector<Pixel> back = read_png(path, has_alpha);
    EXPECT_TRUE(has_alpha);
    EXPECT_EQ(back, (std::vector<Pixel>{
                        {255, 255, 255, 128}, blue, red, {0, 0, 0, 0}, {255, 0, 255, 255}}));

    style.transparent = false;
    style.background[0] = 0.2f, style.background[1] = 0.4f, style.background[2] = 0.6f;
    style.parameters.mapping = 1;
    ASSERT_TRUE(preview::write_image(image, path, style, error)) << error;
    back = read_png(path, has_alpha);
    EXPECT_FALSE(has_alpha);
    EXPECT_EQ(back[1], white);
    EXPECT_EQ(back[2], red);
    EXPECT_EQ(back[3], (Pixel{51, 102, 153, 255}));
    style.parameters.mapping = 2;
    ASSERT_TRUE(preview::write_image(image, path, style, error)) << error;
    back = read_png(path, has_alpha);
    EXPECT_EQ(back[1], white);
    EXPECT_EQ(back[2], blue);
    std::remove(path.c_str());
}

// The legend's labels are the range's ends as the shader uses them (the
// threshold dropped where the shader drops it), written short; bar and text
// are drawn at the bottom and nowhere else.
TEST(PngOutput, LegendShowsTheRangeEnds) {
    auto labels = [](int mapping, float max, float min, float threshold) {
        std::vector<double> out;
        for (const preview::LegendLabel& label :
             preview::legend_labels({0, 0, mapping, max, min, threshold, 0.5f, 0, 16.0f, 1.0f})) {
            out.insert(out.end(), {label.value, label.place});
        }
        return out;
    };
    EXPECT_EQ(labels(0, 2.0f, 0.5f, 0.25f), (std::vector<double>{-0.5, 0, 0, 0.5, 2, 1}));
    EXPECT_EQ(labels(1, 1.0f, 1.0f, 0.25f), (std::vector<double>{0.25, 0, 1, 1}));
    EXPECT_EQ(labels(1, 1.0f, 1.0f, 2.0f), (std::vector<double>{0, 0, 1, 1}));
    EXPECT_EQ(labels(2, 1.0f, 3.0f, 0.25f), (std::vector<double>{-0.25, 0, -3, 1}));
    EXPECT_EQ(labels(2, 1.0f, 1.0f, -2.0f), (std::vector<double>{0, 0, -1, 1}));
    EXPECT_EQ(preview::legend_number(1e6) + " " + preview::legend_number(-2.5e-5) + " " +
                  preview::legend_number(-0.0) + " " + preview::legend_number(1234.5),
              "1e6 -2.5e-5 0 1.23e3");

    Image image;
    image.width = 320;
    image.height = 240;
    image.rgba.assign(320 * 240 * 4, 0.0f);
    ImageStyle style;
    style.colormap = ImageStyle::Colormap::diverging;
    style.legend = true;
    style.background[0] = style.background[1] = style.background[2] = 0.08f;
    const std::string path = ::testing::TempDir() + "bendlens_legend_test.png";
    std::string error;
    ASSERT_TRUE(preview::write_image(image, path, style, error)) << error;
    bool has_alpha = false;
    const std::vector<Pixel> back = read_png(path, has_alpha);
    ASSERT_EQ(back.size(), 320u * 240u);
    int ink = 0, blue = 0, red = 0, above = 0;
    for (size_t i = 0; i < back.size(); ++i) {
        const Pixel& p = back[i];
        if (i / 320 < 180) {
            above += p != Pixel{20, 20, 20, 255};
        } else {
            ink += p == Pixel{255, 255, 255, 255};
            blue += p[2] > 150 && p[0] < 80;
            red += p[0] > 150 && p[1] < 40;
        }
    }
    EXPECT_EQ(above, 0);
    EXPECT_GT(ink, 60); // the frame and three labels
    EXPECT_GT(blue, 20);
    EXPECT_GT(red, 20);
    std::remove(path.c_str());
}

// RGBA premultiplied by coverage, as OpenEXR expects; the raw layers as they
// are, under their channel names, and only those the image has. A layer of
// the wrong size is refused, leaving no file.
TEST(ExrOutput, PremultipliedColourAndRawLayersReadBackWithOpenExr) {
    Image image = row_image({NAN, NAN, NAN, 0.5f, 0.3f, 0.3f, 0.3f, 0.25f, 0.7f, 0.7f, 0.7f, 1.0f,
                             0.0f, 0.0f, 0.0f, 0.0f});
    image.measure = {NAN, -1.5e-3f, 2.5e7f, 0.0f};
    image.k1 = {1.0f, -0.25f, 3.0f, 0.0f};
    image.k2 = {-1.0f, -0.5f, 1e-30f, 0.0f};
    const std::string path = ::testing::TempDir() + "bendlens_image_test.exr";
    std::string error;
    ASSERT_TRUE(preview::write_image(image, path, error)) << error;
    {
        Imf::InputFile file(path.c_str());
        const char* names[7] = {"R", "G", "B", "A", "measure.h", "measure.k1", "measure.k2"};
        std::vector<float> back(7 * 4, 7.0f);
        Imf::FrameBuffer frame;
        for (int c = 0; c < 7; ++c) {
            const Imf::Channel* channel = file.header().channels().findChannel(names[c]);
            ASSERT_TRUE(channel != nullptr && channel->type == Imf::FLOAT) << names[c];
            frame.insert(names[c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(&back[c]),
                                              7 * sizeof(float), 28 * sizeof(float)));
        }
        file.setFrameBuffer(frame);
        file.readPixels(0, 0);
        for (int x = 0; x < 4; ++x) {
            const float* in = &image.rgba[4 * x];
            const float expected[7] = {in[0] * in[3],    in[1] * in[3], in[2] * in[3], in[3],
                                       image.measure[x], image.k1[x],   image.k2[x]};
            EXPECT_EQ(0, std::memcmp(&back[7 * x], expected, sizeof expected)) << "pixel " << x;
        }
    }
    image.k1.clear();
    image.k2.clear();
    ASSERT_TRUE(preview::write_image(image, path, error)) << error;
    {
        Imf::InputFile file(path.c_str());
        EXPECT_NE(file.header().channels().findChannel("measure.h"), nullptr);
        EXPECT_EQ(file.header().channels().findChannel("measure.k1"), nullptr);
    }
    std::remove(path.c_str());
    image.k1 = {1.0f};
    EXPECT_FALSE(preview::write_image(image, path, error));
    EXPECT_NE(error.find("measure.k1"), std::string::npos) << error;
    EXPECT_NE(std::remove(path.c_str()), 0);
}

// A baked map read back as a texture: a 16-bit PNG to within half a step of
// its 65535 (alpha included), an opaque 8-bit one with alpha 1, an EXR's
// premultiplied colour divided by its alpha (also past the band of rows the
// writer premultiplies at a time). Looked up with v running up the
// image: a texel's own value at its centre, the mean of two neighbours
// halfway between their centres, the edge texel beyond the edge, NaN for a
// coordinate that is not finite.
TEST(TextureInput, BakedMapsReadBackAndLookUpBilinearly) {
    Image image;
    image.width = 2;
    image.height = 2;
    // Top row: 0.2, 0.6; bottom row: 1.0 (at coverage 0.5), 0.0.
    image.rgba = {0.2f, 0.2f, 0.2f, 1.0f, 0.6f, 0.6f, 0.6f, 1.0f,
                  1.0f, 1.0f, 1.0f, 0.5f, 0.0f, 0.0f, 0.0f, 1.0f};
    const std::string png = ::testing::TempDir() + "bendlens_texture_test.png";
    const std::string exr = ::testing::TempDir() + "bendlens_texture_test.exr";
    std::string error;
    ImageStyle deep;
    deep.transparent = true;
    deep.depth = 16;
    Image texture;
    ASSERT_TRUE(preview::write_image(image, png, deep, error)) << error;
    ASSERT_TRUE(preview::read_texture(png, texture, error)) << error;
    ASSERT_EQ(texture.rgba.size(), image.rgba.size());
    for (size_t i = 0; i < image.rgba.size(); ++i) {
        EXPECT_NEAR(texture.rgba[i], image.rgba[i], 0.5 / 65535.0) << i;
    }
    ASSERT_TRUE(preview::write_image(image, png, error)) << error; // opaque, 8 bits, no alpha
    ASSERT_TRUE(preview::read_texture(png, texture, error)) << error;
    EXPECT_EQ(texture.rgba[3], 1.0f);
    EXPECT_EQ(texture.rgba[4], 153.0f / 255.0f); // 0.6
    ASSERT_TRUE(preview::write_image(image, exr, error)) << error;
    ASSERT_TRUE(preview::read_texture(exr, texture, error)) << error;
    EXPECT_EQ(texture.rgba, image.rgba);
    // An EXR of more rows than the writer premultiplies at a time.
    Image tall;
    tall.width = 3;
    tall.height = 130;
    for (int i = 0; i < 3 * 130; ++i) {
        tall.rgba.insert(tall.rgba.end(), {float(i) / 400.0f, 0.5f, 0.25f, 1.0f});
    }
    Image tall_back;
    ASSERT_TRUE(preview::write_image(tall, exr, error)) << error;
    ASSERT_TRUE(preview::read_texture(exr, tall_back, error)) << error;
    EXPECT_EQ(tall_back.rgba, tall.rgba);
    // Every truncation of either file, as a download cut short: read or
    // refused with a reason, never a crash (the sanitizer builds check the
    // reads).
    for (const std::string& path : {png, exr}) {
        std::ifstream in(path, std::ios::binary);
        const std::string whole((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        const std::string cut = path + ".cut" + (path == png ? ".png" : ".exr");
        for (size_t length = 0; length < whole.size(); length += 7) {
            std::ofstream(cut, std::ios::binary).write(whole.data(), std::streamsize(length));
            Image back;
            if (!preview::read_texture(cut, back, error)) {
                EXPECT_EQ(error.rfind("texture " + cut + ": ", 0), 0u) << error;
            }
        }
        std::remove(cut.c_str());
    }
    std::remove(png.c_str());
    std::remove(exr.c_str());

    float at[4];
    preview::sample_texture(texture, 0.25f, 0.75f, at); // the top left centre
    EXPECT_EQ(at[0], 0.2f);
    preview::sample_texture(texture, 0.75f, 0.25f, at); // bottom right
    EXPECT_EQ(at[0], 0.0f);
    preview::sample_texture(texture, 0.5f, 0.75f, at); // between the top two
    EXPECT_FLOAT_EQ(at[0], 0.4f);
    preview::sample_texture(texture, 0.25f, 0.5f, at); // between the left two
    EXPECT_FLOAT_EQ(at[0], 0.6f);
    preview::sample_texture(texture, -3.0f, 1.5f, at); // beyond the top left corner
    EXPECT_EQ(at[0], 0.2f);
    preview::sample_texture(texture, NAN, 0.5f, at);
    EXPECT_TRUE(std::isnan(at[0]));
    EXPECT_FALSE(preview::read_texture(png, texture, error));
    EXPECT_EQ(error, "cannot read texture " + png);
    EXPECT_FALSE(preview::read_texture("map.tga", texture, error));
    EXPECT_EQ(error, "texture map.tga: must end in .png or .exr");
}

std::vector<std::string> partial_files(const std::string& folder) {
    std::vector<std::string> found;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return found;
    }
    while (const dirent* entry = readdir(dir)) {
        if (std::strstr(entry->d_name, ".partial-") != nullptr) {
            found.push_back(entry->d_name);
        }
    }
    closedir(dir);
    return found;
}

// The PNG at path as stored: its rows' bytes without any transform, its
// bit depth and its colour type; false where libpng refuses the file.
bool read_stored_png(const std::string& path, std::vector<unsigned char>& bytes, int& depth,
                     int& type) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    // libpng reports by longjmp: nothing with a destructor lives across it.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    depth = png_get_bit_depth(png, info);
    type = png_get_color_type(png, info);
    const png_bytepp rows = png_get_rows(png, info);
    const size_t stride = png_get_rowbytes(png, info), height = png_get_image_height(png, info);
    bytes.resize(stride * height);
    for (size_t y = 0; y < height; ++y) {
        std::memcpy(&bytes[y * stride], rows[y], stride);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return true;
}

// A large PNG is deflated in slices of rows on every core and the slices
// joined into one stream. libpng reads back every byte as given, for RGB
// (the fourth sample dropped) and RGBA, 8 and 16 bits, with the rows in one
// slice, a few, or one a slice; and the file is the same on one thread and
// on three. Catches a slice closed as the last (a final block) or not
// flushed to a byte, an Adler-32 not combined over the slices, and a
// slice's first row filtered against the wrong row above.
TEST(PngOutput, RowsDeflatedInSlicesReadBackExactly) {
    const int width = 37, height = 23;
    const std::string path = ::testing::TempDir() + "bendlens_slices_test.png";
    for (int depth : {8, 16}) {
        const size_t sample = size_t(depth / 8);
        std::vector<unsigned char> rgba(size_t(width) * height * 4 * sample);
        uint32_t noise = 99u;
        for (size_t i = 0; i < rgba.size(); ++i) {
            noise = noise * 1664525u + 1013904223u;
            // Smooth rows with some noise, as a map has: something to compress.
            rgba[i] = static_cast<unsigned char>(i / 7 + (noise >> 29));
        }
        for (bool alpha : {true, false}) {
            std::vector<unsigned char> expected;
            for (size_t p = 0; p < rgba.size(); p += 4 * sample) {
                expected.insert(expected.end(), &rgba[p], &rgba[p] + (alpha ? 4 : 3) * sample);
            }
            const size_t row_bytes = size_t(width) * 4 * sample;
            const preview::PngRows rows{
                width, height, depth, alpha, [&](int y, unsigned char* out) {
                    std::memcpy(out, &rgba[size_t(y) * row_bytes], row_bytes);
                }};
            for (size_t slice_bytes : {size_t(1), size_t(900), preview::png_slice_bytes}) {
                std::string files[2];
                for (int threads : {1, 3}) {
                    FILE* file = std::fopen(path.c_str(), "wb");
                    ASSERT_NE(file, nullptr);
                    std::string error;
                    ASSERT_TRUE(
                        preview::write_png_in_slices(rows, 1, threads, file, error, slice_bytes))
                        << error;
                    std::fclose(file);
                    std::ifstream in(path, std::ios::binary);
                    files[threads / 2].assign(std::istreambuf_iterator<char>(in), {});
                }
                EXPECT_EQ(files[0], files[1]) << "threads change the file";
                std::vector<unsigned char> back;
                int read_depth = 0, type = 0;
                ASSERT_TRUE(read_stored_png(path, back, read_depth, type))
                    << depth << " bits, alpha " << alpha << ", slices of " << slice_bytes;
                EXPECT_EQ(read_depth, depth);
                EXPECT_EQ(type, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
                EXPECT_TRUE(back == expected)
                    << depth << " bits, alpha " << alpha << ", slices of " << slice_bytes;
            }
        }
    }
    std::remove(path.c_str());
}

// The temporary file is named to the interrupt handler for as long as it
// exists: a SIGTERM in the middle of a large write ends the writer with
// status 143 and leaves no temporary file.
TEST(ImageOutput, AnInterruptedWriteLeavesNoPartialFile) {
    std::string folder = ::testing::TempDir() + "bendlens_interrupt_XXXXXX";
    ASSERT_NE(mkdtemp(&folder[0]), nullptr);
    const std::string path = folder + "/big.png";
    std::string error;
    ASSERT_TRUE(preview::check_writable(path, error)) << error;
    EXPECT_TRUE(partial_files(folder).empty());

    Image image;
    image.width = image.height = 1500;
    image.rgba.resize(size_t(1500) * 1500 * 4);
    uint32_t noise = 12345u;
    for (float& value : image.rgba) {
        noise = noise * 1664525u + 1013904223u;
        value = float(noise >> 8) / float(1u << 24);
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        preview::install_interrupt_handlers();
        for (;;) {
            preview::write_image(image, path, ImageStyle{}, error);
        }
    }
    // Wait for a write to be under way, then interrupt it.
    bool seen = false;
    for (int i = 0; i < 20000 && !seen; ++i) {
        seen = !partial_files(folder).empty();
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(seen);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
    EXPECT_TRUE(partial_files(folder).empty());
    std::remove(path.c_str());
    for (const std::string& name : partial_files(folder)) {
        std::remove((folder + "/" + name).c_str());
    }
    rmdir(folder.c_str());
}

} // namespace
