// Checksums (CRC-32, CRC-16/ARC, Adler-32, the TAR header sum) and the engine's 64-bit streams:
// TStream32, its handle and file streams (on host-layer handles), and TDecompressStream, a
// read-only stream that inflates a deflated member out of an archive stream, deciphering each
// input block first when the member is encrypted. Writing archives is not this file's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/arvCrypt.h"
#include "archive/arvInflate.h"
#include "platform/host.h"

// ---- checksums -----------------------------------------------------------------------------------
// The reflected CRC-32 table of 0xEDB88320 (entry 1 is 0x77073096), built at compile time.
extern const uint32_t kCrc32Table[256];
// The reflected CRC-16/ARC table of 0xA001 (entry 1 is 0xC0C1).
extern const uint16_t kCrc16Table[256];

// Folds bytes into a CRC register: value := table[(value ^ byte) & 0xFF] ^ (value >> 8) per byte.
// No pre- or post-inversion: a zip member's CRC starts at 0xFFFFFFFF and is inverted at the end.
uint32_t Crc32Update(uint32_t crc, const uint8_t* bytes, size_t count);
uint32_t Crc16Update(uint32_t crc, const uint8_t* bytes, size_t count);
// Adler-32 of RFC 1950; returns 1 for a missing buffer.
uint32_t Adler32(uint32_t adler, const uint8_t* bytes, size_t count);
// The TAR header sum: all 512 bytes, the checksum field counted as spaces, against its octal value.
bool TarHeaderSumOk(const uint8_t header[512]);

constexpr int kCrcKind16 = 16;
constexpr int kCrcKind32 = 32;

// The running checksums of one run (a CRC-32 and a CRC-16), selected by kind 32 or 16.
struct TRunningChecksums {
  uint32_t crc32 = 0xFFFFFFFF;
  uint32_t crc16 = 0;
  void UpdateCrc(int kind, const uint8_t* bytes, size_t count);
};

// ---- streams -------------------------------------------------------------------------------------
class TStream32 {
 public:
  virtual ~TStream32() = default;

  virtual int64_t GetSize();
  void SetPosition(int64_t position) { Seek64(position, host::kSeekBegin); }
  virtual void SetSize(int32_t newSize);
  virtual void SetSize64(int64_t newSize);  // outside int32 range: ERangeError
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  virtual int32_t Seek(int32_t offset, int origin);
  virtual int64_t Seek64(int64_t offset, int origin);

  // Copies count bytes (0: the whole source from its start) in chunks of 61440, pumping messages
  // through the host layer before each and stopping when *cancel becomes non-zero.
  int64_t CopyFrom(TStream32& source, const uint8_t* cancel,
                   std::function<void(TStream32&)> progress, int64_t count);
  void ReadBuffer(void* buffer, int32_t count);         // short: EReadError
  void WriteBuffer(const void* buffer, int32_t count);  // short: EWriteError
  int64_t Position() { return Seek64(0, host::kSeekCurrent); }
  int64_t Size() { return GetSize(); }

  std::function<void(TStream32&)> OnProgress;

 protected:
  void Progress();  // fires OnProgress when assigned
  // Whether this class supplies its own 64-bit seek; the base 32-bit Seek forwards to it.
  virtual bool HasSeek64() const { return false; }
};

class THandleStream32 : public TStream32 {
 public:
  explicit THandleStream32(host::THandle handle) : handle_(handle) {}
  host::THandle Handle() const { return handle_; }

  int64_t GetSize() override;
  void SetSize(int32_t newSize) override;
  void SetSize64(int64_t newSize) override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int32_t Seek(int32_t offset, int origin) override;
  int64_t Seek64(int64_t offset, int origin) override;

 protected:
  bool HasSeek64() const override { return true; }
  host::THandle handle_;
};

constexpr uint32_t fmCreate = 0xFFFF;

// Opens (or, with fmCreate, creates) a file; a failure leaves a negative Handle() and raises nothing.
class TFileStream32 : public THandleStream32 {
 public:
  TFileStream32(const std::string& fileName, uint32_t mode);
  ~TFileStream32() override;
  TFileStream32(const TFileStream32&) = delete;
  TFileStream32& operator=(const TFileStream32&) = delete;
};

class TCustomStream : public TStream32 {
 public:
  static constexpr int32_t kInputBufferSize = 65536;
  explicit TCustomStream(TStream32& source);

 protected:
  TStream32& source_;          // not owned
  int64_t sourcePosition_;     // where the source is expected to stand
  std::unique_ptr<uint8_t[]> input_;
};

// Inflates a member out of `source`, from its current position. `cipher` (when not null) deciphers
// each input block right after it is read; `cancel` (when not null) is the component's cancel flag.
class TDecompressStream : public TCustomStream {
 public:
  TDecompressStream(TStream32& source, int windowBits, bool deflate64 = false,
                    TZipCipher* cipher = nullptr, const uint8_t* cancel = nullptr);
  ~TDecompressStream() override;  // moves the source back over unused input

  int32_t Read(void* buffer, int32_t count) override;  // count, or a negative inflate code
  int32_t Write(const void* buffer, int32_t count) override;  // -1: not supported
  int32_t Seek(int32_t offset, int origin) override;
  int64_t Seek64(int64_t offset, int origin) override;

  bool EndOfStream() const { return endOfStream_; }
  const TInflateStream& InflateState() const { return zstream_; }

 protected:
  bool HasSeek64() const override { return true; }

 private:
  TInflateStream zstream_{};
  TZipCipher* cipher_;
  const uint8_t* cancel_;
  bool endOfStream_ = false;
};
