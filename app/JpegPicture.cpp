// libjpeg decoding into a QImage (see JpegPicture.h). libjpeg reports fatal errors through a
// callback that must not return; it jumps back to the decoder's start with longjmp, so no C++
// object with a destructor lives between setjmp and the calls that may fail.
#include "app/JpegPicture.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace wizard {

namespace {

struct TJpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<TJpegError*>(info->err)->jump, 1);
}

void OnJpegMessage(j_common_ptr) {}  // warnings of damaged data stay quiet

// Returns false when libjpeg gave up; `image` is then left null.
bool Decode(jpeg_decompress_struct& info, const QByteArray& bytes, QImage& image) {
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.constData()),
               static_cast<unsigned long>(bytes.size()));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return false;
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  if (info.output_components != 3) return false;
  image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                 QImage::Format_RGB888);
  if (image.isNull()) return false;
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  return true;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& bytes) {
  if (bytes.isEmpty()) return {};
  jpeg_decompress_struct info{};
  TJpegError error{};
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = OnJpegError;
  error.manager.output_message = OnJpegMessage;
  // The image lives outside the jump's reach; a failed decode drops it below.
  QImage image;
  volatile bool decoded = false;
  if (setjmp(error.jump) == 0) {
    jpeg_create_decompress(&info);
    decoded = Decode(info, bytes, image);
  }
  jpeg_destroy_decompress(&info);
  if (!decoded) return {};
  return image;
}

}  // namespace wizard
