// Deflate data made by zlib, the independent encoder the suites check the engine against: one
// call, whole input, whatever level, window and strategy a test asks for. It only compresses;
// reading the result back is the engine's business, and the tests'.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include <zlib.h>

namespace testsupport {

// `data` deflated by zlib in one call. windowBits as zlib takes them: negative for raw deflate
// data (what a zip member holds), 8..15 for a zlib wrapper around it.
inline std::vector<uint8_t> ZlibDeflate(const std::vector<uint8_t>& data, int level = 6,
                                        int windowBits = -15, int strategy = Z_DEFAULT_STRATEGY) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, windowBits, 8, strategy), Z_OK);
  std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(data.size())) + 64);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

}  // namespace testsupport
