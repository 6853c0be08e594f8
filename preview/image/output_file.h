// Writing a file so that no half-written one is ever left behind.
//
// The file is written under a temporary name beside its target (so that the
// final rename stays in one file system and is atomic), named to the
// interrupt handler from before it exists until it is renamed or removed,
// and moved into place only when complete. Every file the tool writes goes
// this way: images, baked maps, vertex meshes.
#pragma once

#include <cstdio>
#include <string>

namespace preview {

class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes the temporary file if finish() was never called.
    ~OutputFile();

    // Creates the temporary file beside path; false with "cannot create a
    // file beside PATH".
    bool open(const std::string& path, std::string& error);
    // The temporary file as a stream for writing (opened on first use), or
    // null when it cannot be; a writer that opens the file by name instead
    // (OpenEXR) uses temporary_name() and never calls this.
    FILE* stream();
    const std::string& temporary_name() const { return temporary_; }

    // With written true, closes the file and renames it into place; false,
    // with a reason, when closing or renaming fails, and the temporary file
    // is removed. With written false, removes it and returns false.
    bool finish(bool written, std::string& error);

  private:
    void discard();

    std::string path_;
    std::string temporary_;
    int descriptor_ = -1;
    FILE* stream_ = nullptr;
};

} // namespace preview
