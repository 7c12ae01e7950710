// The library methods of zip members: one small loop per library around its streaming call, with
// the same input and output blocks and the same verdicts. The libraries set the pace; this file
// only feeds them, clips their output at the member's size and turns their codes into words.
#include "archive/codecs/arvLibCodecs.h"

#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <memory>

#include "archive/codecs/arvZipConsts.h"

namespace {

// Input is read in blocks of this size (the engine's archive block); output leaves in blocks of
// the inflate path's size, so few writes are made and progress moves once per block.
constexpr size_t kInputBlock = 65536;
constexpr size_t kOutputBlock = 262144;
// Slack above the dictionary for liblzma's own state when its memory limit is set for XZ: the
// LZMA2 decoder needs a few tens of KiB besides the dictionary, BCJ filters less.
constexpr uint64_t kXzStateSlack = uint64_t{1} << 20;
// The zip LZMA member's header: major and minor version, then the size of the properties (LE16).
constexpr size_t kLzmaZipHeaderSize = 4;
constexpr size_t kLzmaPropertiesSize = 5;  // lc/lp/pb byte, then the dictionary size (LE32)
constexpr unsigned kLzmaMaxPropertiesByte = 9 * 5 * 5 - 1;  // lc < 9, lp < 5, pb < 5

std::string MiB(uint64_t bytes) {
  return std::to_string((bytes + (uint64_t{1} << 20) - 1) >> 20) + " MiB";
}

// The blocks of one member and the rules every decoder shares: reads until the input ends, output
// clipped at the declared size (what lies beyond is a corrupt member, never written), cancel
// looked at before each block.
class TPipe {
 public:
  TPipe(TLibMember& member, const TCodecIo& io)
      : FMember(member),
        FIo(io),
        FInput(std::make_unique<uint8_t[]>(kInputBlock)),
        FOutput(std::make_unique<uint8_t[]>(kOutputBlock)) {}

  uint8_t* Input() { return FInput.get(); }
  uint8_t* Output() { return FOutput.get(); }
  bool Cancelled() const { return FIo.Cancel && *FIo.Cancel; }
  bool InputEnded() const { return FInputEnded; }
  uint64_t Produced() const { return FProduced; }
  bool Full() const { return FProduced == FMember.Size; }

  // Reads the next input block; 0 at the end of the data.
  size_t Refill() {
    if (FInputEnded) return 0;
    const size_t got = FIo.Read ? FIo.Read(FInput.get(), kInputBlock) : 0;
    if (got == 0) FInputEnded = true;
    return got;
  }
  // Reads exactly `count` bytes into `buffer` (a header); false when the data ends first.
  bool ReadExact(uint8_t* buffer, size_t count) {
    while (count > 0) {
      const size_t got = FIo.Read ? FIo.Read(buffer, count) : 0;
      if (got == 0) return false;
      buffer += got;
      count -= got;
    }
    return true;
  }
  // Hands `count` output bytes on; false (nothing past the size written) when they would go past
  // the declared size.
  bool Emit(const uint8_t* bytes, size_t count) {
    const uint64_t room = FMember.Size - FProduced;
    const size_t take = static_cast<size_t>(std::min<uint64_t>(room, count));
    if (take > 0) {
      FIo.Write(bytes, take);
      FProduced += take;
    }
    if (take < count) {
      FMember.Detail = "the data decodes past the member's size of " +
                       std::to_string(FMember.Size) + " bytes";
      return false;
    }
    return true;
  }
  // The verdict once the method's data has ended where the method says it ends.
  TCodecStatus Ended() {
    if (FProduced == FMember.Size) return TCodecStatus::Ok;
    FMember.Detail = "the data ends after " + std::to_string(FProduced) + " of " +
                     std::to_string(FMember.Size) + " bytes";
    return TCodecStatus::Corrupt;
  }
  TCodecStatus Fail(TCodecStatus status, std::string detail) {
    FMember.Detail = std::move(detail);
    return status;
  }
  TCodecStatus Refuse(std::string detail) {
    FMember.Refused = true;
    return Fail(TCodecStatus::Unsupported, std::move(detail));
  }
  TCodecStatus Truncated() {
    return Fail(TCodecStatus::Truncated, "the data ends before the member does");
  }

 private:
  TLibMember& FMember;
  const TCodecIo& FIo;
  std::unique_ptr<uint8_t[]> FInput;
  std::unique_ptr<uint8_t[]> FOutput;
  uint64_t FProduced = 0;
  bool FInputEnded = false;
};

// ---- BZip2 ----------------------------------------------------------------------------------------
std::string Bzip2Error(int code) {
  switch (code) {
    case BZ_DATA_ERROR:
      return "BZip2 data is damaged (a block's check value or its coding is wrong)";
    case BZ_DATA_ERROR_MAGIC:
      return "the data is not BZip2 data";
    case BZ_MEM_ERROR:
      return "no memory for the BZip2 decoder";
    default:
      return "the BZip2 decoder failed (" + std::to_string(code) + ")";
  }
}

TCodecStatus DecodeBzip2(TPipe& pipe) {
  bz_stream s{};
  if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK)
    return pipe.Fail(TCodecStatus::Corrupt, Bzip2Error(BZ_MEM_ERROR));
  struct TEnd {
    bz_stream* s;
    ~TEnd() { BZ2_bzDecompressEnd(s); }
  } end{&s};
  for (;;) {
    if (pipe.Cancelled()) return TCodecStatus::Cancelled;
    if (s.avail_in == 0) {
      s.next_in = reinterpret_cast<char*>(pipe.Input());
      s.avail_in = static_cast<unsigned>(pipe.Refill());
    }
    s.next_out = reinterpret_cast<char*>(pipe.Output());
    s.avail_out = kOutputBlock;
    const int rc = BZ2_bzDecompress(&s);
    const size_t produced = kOutputBlock - s.avail_out;
    if (rc != BZ_OK && rc != BZ_STREAM_END) return pipe.Fail(TCodecStatus::Corrupt, Bzip2Error(rc));
    if (!pipe.Emit(pipe.Output(), produced)) return TCodecStatus::Corrupt;
    if (rc == BZ_STREAM_END) {
      // Writers that compress in parallel put one stream after another; the member ends with
      // its input, or once its size is reached.
      if (s.avail_in == 0) {
        s.next_in = reinterpret_cast<char*>(pipe.Input());
        s.avail_in = static_cast<unsigned>(pipe.Refill());
      }
      if (s.avail_in == 0 || pipe.Produced() == 0 || s.next_in[0] != 'B') return pipe.Ended();
      char* const nextIn = s.next_in;
      const unsigned availIn = s.avail_in;
      BZ2_bzDecompressEnd(&s);
      s = bz_stream{};
      if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK)
        return pipe.Fail(TCodecStatus::Corrupt, Bzip2Error(BZ_MEM_ERROR));
      s.next_in = nextIn;
      s.avail_in = availIn;
      continue;
    }
    if (produced == 0 && s.avail_in == 0 && pipe.InputEnded()) return pipe.Truncated();
  }
}

// ---- LZMA and XZ ----------------------------------------------------------------------------------
std::string LzmaError(lzma_ret rc, const char* what) {
  switch (rc) {
    case LZMA_DATA_ERROR:
      return std::string(what) + " data is damaged";
    case LZMA_FORMAT_ERROR:
      return std::string("the data is not ") + what + " data";
    case LZMA_OPTIONS_ERROR:
      return std::string(what) + " data uses options Parcelo cannot decode";
    case LZMA_MEM_ERROR:
      return std::string("no memory for the ") + what + " decoder";
    case LZMA_UNSUPPORTED_CHECK:
      return std::string(what) + " data uses an integrity check Parcelo cannot verify";
    default:
      return std::string("the ") + what + " decoder failed (" + std::to_string(rc) + ")";
  }
}

// Runs an initialised liblzma decoder over the rest of the member's input.
TCodecStatus RunLzma(TPipe& pipe, lzma_stream& s, const char* what) {
  for (;;) {
    if (pipe.Cancelled()) return TCodecStatus::Cancelled;
    if (s.avail_in == 0 && !pipe.InputEnded()) {
      s.next_in = pipe.Input();
      s.avail_in = pipe.Refill();
    }
    s.next_out = pipe.Output();
    s.avail_out = kOutputBlock;
    const lzma_ret rc = lzma_code(&s, pipe.InputEnded() ? LZMA_FINISH : LZMA_RUN);
    const size_t produced = kOutputBlock - s.avail_out;
    if (!pipe.Emit(pipe.Output(), produced)) return TCodecStatus::Corrupt;
    if (rc == LZMA_STREAM_END) return pipe.Ended();
    if (rc == LZMA_MEMLIMIT_ERROR)
      return pipe.Refuse(std::string(what) + " data needs " + MiB(lzma_memusage(&s)) +
                         " of memory: Parcelo decodes dictionaries up to 1 GiB");
    if (rc == LZMA_BUF_ERROR) return pipe.Truncated();
    if (rc == LZMA_DATA_ERROR && pipe.Full())
      return pipe.Fail(TCodecStatus::Corrupt, "the data goes on past the member's size");
    if (rc != LZMA_OK) return pipe.Fail(TCodecStatus::Corrupt, LzmaError(rc, what));
  }
}

TCodecStatus DecodeLzma(TPipe& pipe, const TLibMember& member) {
  uint8_t header[kLzmaZipHeaderSize + kLzmaPropertiesSize];
  if (!pipe.ReadExact(header, kLzmaZipHeaderSize)) return pipe.Truncated();
  const unsigned propertiesSize = header[2] | (header[3] << 8);
  if (propertiesSize != kLzmaPropertiesSize)
    return pipe.Refuse("LZMA properties of " + std::to_string(propertiesSize) +
                       " bytes (5 expected)");
  uint8_t* const properties = header + kLzmaZipHeaderSize;
  if (!pipe.ReadExact(properties, kLzmaPropertiesSize)) return pipe.Truncated();
  unsigned d = properties[0];
  if (d > kLzmaMaxPropertiesByte)
    return pipe.Refuse("LZMA properties out of range (" + std::to_string(d) + ")");
  lzma_options_lzma options{};
  options.lc = d % 9;
  d /= 9;
  options.lp = d % 5;
  options.pb = d / 5;
  const uint32_t dictionary = properties[1] | (properties[2] << 8) | (properties[3] << 16) |
                              (static_cast<uint32_t>(properties[4]) << 24);
  if (dictionary > kMaxLibraryWindow)
    return pipe.Refuse("LZMA dictionary of " + MiB(dictionary) +
                       ": Parcelo decodes dictionaries up to 1 GiB");
  if (options.lc + options.lp > LZMA_LCLP_MAX)
    return pipe.Refuse("LZMA properties lc=" + std::to_string(options.lc) +
                       " lp=" + std::to_string(options.lp) + " (their sum is at most 4)");
  options.dict_size = std::max<uint32_t>(dictionary, LZMA_DICT_SIZE_MIN);
  // Bit 1: the data ends with an end marker, which ends decoding (output past the size is
  // refused as it comes). Otherwise the decoder is told the size and stops there. (liblzma 5.4's
  // decoder that takes both, a size and an optional marker, fails on a marker whose bytes arrive
  // in separate reads, so the two cases stay apart.)
  const bool endMarker = (member.Flags & kFlagLzmaEndMarker) != 0;
  if (!endMarker) {
    options.ext_flags = 0;
    options.ext_size_low = static_cast<uint32_t>(member.Size);
    options.ext_size_high = static_cast<uint32_t>(member.Size >> 32);
  }
  const lzma_filter filters[] = {
      {endMarker ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA1EXT, &options},
      {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream s = LZMA_STREAM_INIT;
  const lzma_ret rc = lzma_raw_decoder(&s, filters);
  struct TEnd {
    lzma_stream* s;
    ~TEnd() { lzma_end(s); }
  } end{&s};
  if (rc != LZMA_OK) return pipe.Fail(TCodecStatus::Unsupported, LzmaError(rc, "LZMA"));
  return RunLzma(pipe, s, "LZMA");
}

TCodecStatus DecodeXz(TPipe& pipe) {
  lzma_stream s = LZMA_STREAM_INIT;
  const lzma_ret rc = lzma_stream_decoder(&s, kMaxLibraryWindow + kXzStateSlack, 0);
  struct TEnd {
    lzma_stream* s;
    ~TEnd() { lzma_end(s); }
  } end{&s};
  if (rc != LZMA_OK) return pipe.Fail(TCodecStatus::Corrupt, LzmaError(rc, "XZ"));
  return RunLzma(pipe, s, "XZ");
}

// ---- Zstandard ------------------------------------------------------------------------------------
constexpr int kZstdMaxWindowLog = 30;
static_assert(uint64_t{1} << kZstdMaxWindowLog == kMaxLibraryWindow);

TCodecStatus DecodeZstd(TPipe& pipe) {
  ZSTD_DCtx* const context = ZSTD_createDCtx();
  if (!context) return pipe.Fail(TCodecStatus::Corrupt, "no memory for the Zstandard decoder");
  struct TEnd {
    ZSTD_DCtx* c;
    ~TEnd() { ZSTD_freeDCtx(c); }
  } end{context};
  ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, kZstdMaxWindowLog);
  ZSTD_inBuffer in{pipe.Input(), 0, 0};
  size_t hint = 1;  // 0 once a frame has ended and no other has begun
  for (;;) {
    if (pipe.Cancelled()) return TCodecStatus::Cancelled;
    if (in.pos == in.size) {
      in.size = pipe.Refill();
      in.pos = 0;
      if (in.size == 0) return hint == 0 ? pipe.Ended() : pipe.Truncated();
    }
    ZSTD_outBuffer out{pipe.Output(), kOutputBlock, 0};
    hint = ZSTD_decompressStream(context, &out, &in);
    if (ZSTD_isError(hint)) {
      if (ZSTD_getErrorCode(hint) == ZSTD_error_frameParameter_windowTooLarge)
        return pipe.Refuse("the Zstandard frame's window is above 1 GiB, the most Parcelo decodes");
      return pipe.Fail(TCodecStatus::Corrupt,
                       std::string("Zstandard data is damaged: ") + ZSTD_getErrorName(hint));
    }
    if (!pipe.Emit(pipe.Output(), out.pos)) return TCodecStatus::Corrupt;
    // A full output block may hold back more of the frame: run again before reading on.
    while (out.pos == out.size) {
      if (pipe.Cancelled()) return TCodecStatus::Cancelled;
      out.pos = 0;
      hint = ZSTD_decompressStream(context, &out, &in);
      if (ZSTD_isError(hint))
        return pipe.Fail(TCodecStatus::Corrupt,
                         std::string("Zstandard data is damaged: ") + ZSTD_getErrorName(hint));
      if (!pipe.Emit(pipe.Output(), out.pos)) return TCodecStatus::Corrupt;
    }
  }
}

}  // namespace

bool IsLibraryMethod(uint32_t method) {
  return method == kMethodBzip2 || method == kMethodLzma || method == kMethodXz ||
         method == kMethodZstd || method == kMethodZstdOld;
}

TCodecStatus DecodeLibraryMember(TLibMember& member, const TCodecIo& io) {
  member.Detail.clear();
  member.Refused = false;
  TPipe pipe(member, io);
  switch (member.Method) {
    case kMethodBzip2:
      return DecodeBzip2(pipe);
    case kMethodLzma:
      return DecodeLzma(pipe, member);
    case kMethodXz:
      return DecodeXz(pipe);
    case kMethodZstd:
    case kMethodZstdOld:
      return DecodeZstd(pipe);
    default:
      member.Detail = "method " + std::to_string(member.Method);
      return TCodecStatus::Unsupported;
  }
}
