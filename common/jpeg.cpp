#include "common/jpeg.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/file.h"
#include "platform/text.h"

extern "C" {
#include <jpeglib.h>
}

namespace {

// libjpeg reports fatal errors through a long jump back into the caller;
// nothing with a destructor lives between the setjmp and the jump.
struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr info) {
  auto* manager = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, manager->message);
  std::longjmp(manager->jump, 1);
}

// A warning means the data is truncated or corrupt: the first one is kept,
// and the picture is refused (libjpeg would fill the rest with grey).
void OnMessage(j_common_ptr info) {
  auto* manager = reinterpret_cast<ErrorManager*>(info->err);
  if (!manager->message[0]) (*info->err->format_message)(info, manager->message);
}

bool DecodeInto(const std::string& data, QImage& out, char* message) {
  jpeg_decompress_struct info;
  ErrorManager manager;
  info.err = jpeg_std_error(&manager.base);
  manager.base.error_exit = OnError;
  manager.base.output_message = OnMessage;
  manager.message[0] = 0;
  // Heap objects only, set before the jump can come back (volatile so that
  // their values survive it).
  QImage* volatile image = nullptr;
  std::vector<uint8_t>* volatile row = new std::vector<uint8_t>;
  if (setjmp(manager.jump)) {
    jpeg_destroy_decompress(&info);
    delete image;
    delete row;
    std::memcpy(message, manager.message, JMSG_LENGTH_MAX);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  const unsigned w = info.output_width, h = info.output_height;
  if (w == 0 || h == 0 || w > 8192 || h > 8192) {
    jpeg_destroy_decompress(&info);
    delete row;
    std::snprintf(message, JMSG_LENGTH_MAX, "picture size %ux%u is out of range", w, h);
    return false;
  }
  image = new QImage(int(w), int(h), QImage::Format_RGB32);
  row->resize(size_t(w) * 3);
  while (info.output_scanline < h) {
    JSAMPROW rows[1] = {row->data()};
    const unsigned y = info.output_scanline;
    jpeg_read_scanlines(&info, rows, 1);
    auto* line = reinterpret_cast<QRgb*>(image->scanLine(int(y)));
    const uint8_t* rgb = row->data();
    for (unsigned x = 0; x < w; ++x) line[x] = qRgb(rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2]);
  }
  if (manager.base.num_warnings > 0) {
    jpeg_destroy_decompress(&info);
    delete image;
    delete row;
    char warning[JMSG_LENGTH_MAX];
    std::memcpy(warning, manager.message, JMSG_LENGTH_MAX);
    std::snprintf(message, JMSG_LENGTH_MAX, "truncated or corrupt data: %.160s", warning);
    return false;
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  out = std::move(*image);
  delete image;
  delete row;
  return true;
}

}  // namespace

QImage DecodeJpeg(const std::string& path, std::string* error) {
  std::string data, problem;
  if (!platform::ReadFile(path, data, problem)) {
    if (error) *error = "cannot open " + platform::Quote(path) + ": " + problem;
    return QImage();
  }
  QImage image;
  char message[JMSG_LENGTH_MAX] = {};
  if (!DecodeInto(data, image, message)) {
    if (error) *error = platform::Quote(path) + " is not a readable JPEG picture (" + message + ")";
    return QImage();
  }
  return image;
}

bool EncodeJpeg(const QImage& source, const std::string& path, int quality, std::string* error) {
  const QImage image = source.convertToFormat(QImage::Format_RGB888);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    if (error) *error = "cannot create " + platform::Quote(path) + ": " + std::strerror(errno);
    return false;
  }
  jpeg_compress_struct info;
  ErrorManager manager;
  info.err = jpeg_std_error(&manager.base);
  manager.base.error_exit = OnError;
  manager.base.output_message = OnMessage;
  if (setjmp(manager.jump)) {
    jpeg_destroy_compress(&info);
    std::fclose(file);
    if (error) *error = "cannot write " + platform::Quote(path) + " (" + manager.message + ")";
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file);
  info.image_width = JDIMENSION(image.width());
  info.image_height = JDIMENSION(image.height());
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW rows[1] = {const_cast<JSAMPLE*>(image.constScanLine(int(info.next_scanline)))};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::fclose(file);
  return true;
}
