#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>

#include "sim/png_writer.h"

namespace sim {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

}  // namespace

bool WriteRgbPng(const std::filesystem::path& path, int width, int height, const std::uint8_t* rgb,
                 std::string* error) {
  if (width <= 0 || height <= 0 || rgb == nullptr) {
    SetError(error, "empty picture");
    return false;
  }
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    SetError(error, "cannot create " + path.string());
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) {
    SetError(error, "libpng could not start");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    SetError(error, "libpng failed writing " + path.string());
    return false;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  for (int row = 0; row < height; ++row) {
    png_write_row(png, rgb + stride * static_cast<std::size_t>(row));
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fflush(file.get()) != 0) {
    SetError(error, "cannot write " + path.string());
    return false;
  }
  return true;
}

}  // namespace sim
