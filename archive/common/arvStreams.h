// Checksums (CRC-32, CRC-16/ARC, the TAR header sum) and the engine's 64-bit streams:
// TStream32, its handle and file streams (on host-layer handles), and TDecompressStream, a
// read-only stream that inflates a deflated member out of an archive stream, deciphering each
// input block first when the member is encrypted. Writing archives is not this file's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/codecs/arvBytes.h"
#include "archive/codecs/arvCrcTables.h"  // kCrc32Table, kCrc16Table, Crc32Step
#include "archive/codecs/arvCrypt.h"
#include "archive/codecs/arvInflate.h"
#include "platform/host.h"

// ---- checksums ----------------------------------------------------------------------------------
// Folds bytes into a CRC register: value := table[(value ^ byte) & 0xFF] ^ (value >> 8) per byte.
// No pre- or post-inversion: a zip member's CRC starts at 0xFFFFFFFF and is inverted at the end.
uint32_t Crc32Update(uint32_t crc, const uint8_t* bytes, size_t count);
uint32_t Crc16Update(uint32_t crc, const uint8_t* bytes, size_t count);
// Adler-32 comes with the inflate engine (arvInflate.h), whose wrapped data it checks.
// The TAR header sum: all 512 bytes, the checksum field counted as spaces, against its octal value.
bool TarHeaderSumOk(const uint8_t header[512]);

constexpr int kCrcKindNone = 0;
constexpr int kCrcKind16 = 16;
constexpr int kCrcKind32 = 32;

// The running checksums of one run (a CRC-32 and a CRC-16), selected by kind 32 or 16 (any other
// kind folds into neither).
struct TRunningChecksums {
  uint32_t Crc32 = 0xFFFFFFFF;
  uint32_t Crc16 = 0;
  void UpdateCrc(int kind, const uint8_t* bytes, size_t count);
};

// ---- streams ------------------------------------------------------------------------------------
// A stream with 64-bit positions and sizes. Messages of its errors: "Range check error"
// (ERangeError), "Seek not implemented" (EStreamError), "Stream read error" (EReadError),
// "Stream write error" or the text of 25160 "Disk full" (EWriteError).
class TStream32 {
 public:
  static constexpr int32_t kCopyChunkSize = 61440;

  TStream32() = default;
  virtual ~TStream32() = default;
  TStream32(const TStream32&) = delete;
  TStream32& operator=(const TStream32&) = delete;

  virtual int64_t GetSize();  // remembers the position, seeks to the end and back
  void SetPosition(int64_t position) { Seek64(position, host::kSeekBegin); }
  virtual void SetSize(int32_t newSize);    // nothing here
  virtual void SetSize64(int64_t newSize);  // outside int32 range: ERangeError; else SetSize
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  // Forwards to Seek64 when the class has one, else "Seek not implemented". A new position that
  // does not fit the 32-bit result raises ERangeError rather than coming back truncated.
  virtual int32_t Seek(int32_t offset, int origin);
  // Here: an offset outside the int32 range raises ERangeError, else the 32-bit Seek.
  virtual int64_t Seek64(int64_t offset, int origin);

  // Copies count bytes (0: the whole source from its start) in chunks of 61440, pumping messages
  // through the host layer before each and stopping before a chunk when *cancel is non-zero.
  // Returns the bytes copied (the count asked for unless cancelled). `progress` is stored as
  // OnProgress.
  int64_t CopyFrom(TStream32& source, const uint8_t* cancel,
                   std::function<void(TStream32&)> progress, int64_t count);
  // The engine's reads. ReadUpTo reads up to `count` bytes, looping over short reads; ReadAt does
  // the same at `position`. Fewer bytes come back only at the end of the data or when reading
  // fails: a failed read is a short read here (a stream error raised by Read counts as a read
  // that gave nothing), so read failures reach the engine as counts, never as exceptions. ReadAt
  // gives 0 for a negative position or one the stream cannot seek to.
  int32_t ReadUpTo(void* buffer, int32_t count);
  virtual int32_t ReadAt(int64_t position, void* buffer, int32_t count);
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

// A stream on a host file handle (negative: none). Read and Write give 0 on failure; destruction
// only forgets the handle.
class THandleStream32 : public TStream32 {
 public:
  explicit THandleStream32(host::THandle handle) : FHandle(handle) {}
  host::THandle Handle() const { return FHandle; }

  int64_t GetSize() override;  // the file's size, 0 when it cannot be had
  void SetSize(int32_t newSize) override;
  void SetSize64(int64_t newSize) override;  // seeks there, sets the end; failure: EStreamError
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int32_t Seek(int32_t offset, int origin) override;
  int64_t Seek64(int64_t offset, int origin) override;  // the new position, or -1

 protected:
  bool HasSeek64() const override { return true; }
  host::THandle FHandle;
};

constexpr uint32_t fmCreate = 0xFFFF;

// Opens (or, with fmCreate, creates) a file; a failure leaves a negative Handle() and raises
// nothing.
class TFileStream32 : public THandleStream32 {
 public:
  TFileStream32(const std::string& fileName, uint32_t mode);
  ~TFileStream32() override;  // closes a non-negative handle
};

// An archive opened for reading, read through a window: the walks read many small records (a
// header, a name, a small member's data) one after another, and each would otherwise cost a seek
// and a read of its own. Reads that continue where the last one ended fill a window of
// kWindowSize bytes; a read elsewhere (a header looked up far away) fills only kProbeSize bytes; a
// read of half a window or more goes straight to the caller's buffer. Positions are kept here and
// every read is positioned, so a seek costs nothing. Nothing else may move the handle's position.
class TArchiveFileStream : public TFileStream32 {
 public:
  static constexpr int32_t kWindowSize = 65536;
  static constexpr int32_t kProbeSize = 4096;
  explicit TArchiveFileStream(const std::string& fileName);

  void SetSize64(int64_t newSize) override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int32_t Seek(int32_t offset, int origin) override;
  int64_t Seek64(int64_t offset, int origin) override;

 private:
  int32_t ReadFromFile(uint8_t* out, int32_t count);
  int64_t FPosition = 0;
  std::unique_ptr<uint8_t[]> FWindow;
  int64_t FWindowStart = 0;
  int32_t FWindowHave = 0;
  int64_t FReadEnd = -1;  // where the last read from the file ended
};

// A stream that reads another one (not owned) through a 65536-byte input buffer.
class TCustomStream : public TStream32 {
 public:
  static constexpr int32_t kInputBufferSize = 65536;
  explicit TCustomStream(TStream32& source);

 protected:
  TStream32* FSource;       // not owned
  int64_t FSourcePosition;  // where the source is expected to stand
  std::unique_ptr<uint8_t[]> FInput;
};

// ---- the inflate driver -------------------------------------------------------------------------
// How a run of the inflate driver ended.
enum class TInflateStep : uint8_t {
  Full,       // the output area is full; more may follow
  End,        // the deflate data ended (the engine's next_in stands right behind it)
  Starved,    // the source gave no more bytes and the engine needs more (a member may go on in
              // the next volume: feed the driver from there and run it again)
  Cancelled,  // the source declined to read (a cancelled run)
  Broken,     // the engine found the data broken (LastCode() tells how)
  Block,      // RunTo: the engine stands at a block start at or past the bit asked for
};

// Pulls the next input block: the number of bytes put at `buffer` (at most `room`); 0 when the
// source has no more; kInflateSourceCancelled when it declines to read.
using TInflateSource = std::function<int32_t(uint8_t* buffer, int32_t room)>;
constexpr int32_t kInflateSourceCancelled = -1;
// Passes over the source's next `bytes` bytes without reading them; false when it cannot (they
// are then read and dropped).
using TInflateSkip = std::function<bool(uint64_t bytes)>;

// Drives the inflate engine over one member's deflate data: takes input blocks from a source as
// the engine empties its input buffer and decodes into the caller's output area. It is the one
// loop around the engine: the decompressing stream, the zip extractor and the search for where a
// member's data ends all run it. The engine is made on the first Start and reset for each member;
// the input buffer is the caller's.
class TInflateDriver {
 public:
  TInflateDriver(uint8_t* input, int32_t inputSize) : FInput(input), FInputSize(inputSize) {}
  ~TInflateDriver();
  TInflateDriver(const TInflateDriver&) = delete;
  TInflateDriver& operator=(const TInflateDriver&) = delete;

  // Starts the data of a member: windowBits < 0 for raw deflate data, deflate64 for Deflate64.
  // The input buffer starts empty. The engine's code: kInflateOk, or why it could not be made.
  int Start(int windowBits, bool deflate64);
  // Starts the data again with the same parameters (nothing but an emptied input without an
  // engine).
  int Reset();
  // Decodes into `output` until `room` bytes are there or the data ends, reading the source
  // whenever the input buffer is empty. Produced() tells how many bytes this run wrote.
  TInflateStep Run(uint8_t* output, uint32_t room, const TInflateSource& source);
  // The same, stopping also where the engine stands at a block start at or past bit `stopBit` of
  // the data (TInflateStep::Block; at once when it stands there already).
  TInflateStep RunTo(uint8_t* output, uint32_t room, const TInflateSource& source,
                     uint64_t stopBit);
  // Where decoding stands, in bits from the data's first byte.
  uint64_t BitPosition() const { return InflateBitPosition(FStream); }
  // Goes on at the block start at bit `bit` (at or past BitPosition(), decoded elsewhere), the
  // input before it passed over (`skip`) or read from the source and dropped; `history` is the 32
  // KiB of output before it. False when the source ends first (or the engine refuses).
  bool SkipTo(uint64_t bit, const uint8_t* history, const TInflateSource& source,
              const TInflateSkip& skip);
  uint32_t Produced() const { return FProduced; }
  // The engine's last code: kInflateBufError for Starved; for Broken the engine's error, kInflateDataError
  // for an engine that could not move on, kInflateStreamError for data that wants a preset dictionary.
  int LastCode() const { return FLastCode; }
  // Bytes read but not yet taken by the engine.
  uint32_t InputLeft() const { return FStream.avail_in; }
  // Empties the input buffer (its bytes are dropped; the engine's state stays).
  void DropInput();
  const TInflateStream& Engine() const { return FStream; }

 private:
  TInflateStream FStream{};
  uint8_t* FInput;  // not owned
  int32_t FInputSize;
  bool FMade = false;
  int FWindowBits = 0;
  bool FDeflate64 = false;
  uint32_t FProduced = 0;
  int FLastCode = kInflateOk;
};

// Inflates a member out of `source`, from its current position. `cipher` (when not null, not
// owned) deciphers each input block right after it is read; `cancel` (when not null) is the
// component's cancel flag.
//
// Read(buffer, count) fills the buffer and returns count; when the deflate data ends first it
// still returns count and sets EndOfStream() (the bytes really produced are in TotalOut()). A
// negative result is an inflate code: the engine's own, or kInflateBufError (-5) when the source gave
// no more bytes and nothing more could be produced. When *cancel is non-zero at the moment a new
// input block would be read, Read returns 0 without reading (bytes produced before that in the
// same call still count in TotalOut()).
//
// Seek: (0, begin) starts over from where the data began (inflate state, input and cipher keys
// restored); a forward seek reads and discards through ReadBuffer in 4096-byte blocks; anything
// else does nothing. The result is the number of bytes produced so far.
class TDecompressStream : public TCustomStream {
 public:
  static constexpr int32_t kDiscardBlockSize = 4096;

  TDecompressStream(TStream32& source, int windowBits, bool deflate64 = false,
                    TZipCipher* cipher = nullptr, const uint8_t* cancel = nullptr);
  // Moves the source to just after the last compressed byte the engine consumed, ends the engine.
  ~TDecompressStream() override;

  int32_t Read(void* buffer, int32_t count) override;  // count, 0 (cancel) or a negative code
  int32_t Write(const void* buffer, int32_t count) override;  // -1: not supported
  int32_t Seek(int32_t offset, int origin) override;
  int64_t Seek64(int64_t offset, int origin) override;

  // Continues the member from another source (the next volume of a set) at `position`, keeping the
  // inflate state, the cipher keys and any input not yet consumed.
  void AttachSource(TStream32& source, int64_t position);

  bool EndOfStream() const { return FEndOfStream; }
  uint64_t TotalOut() const { return FDriver.Engine().total_out; }
  const TInflateStream& InflateState() const { return FDriver.Engine(); }

 protected:
  bool HasSeek64() const override { return true; }

 private:
  int32_t FillInput(uint8_t* buffer, int32_t room);  // bytes read (0: none)
  void DiscardForward(int64_t bytes);
  void Restart();

  TInflateDriver FDriver;
  TZipCipher* FCipher;
  TZipCipher FStartKeys;  // the cipher as it stood when the data began
  const uint8_t* FCancel;
  int64_t FStartPosition;  // where the data began in the source
  int FInitResult = kInflateOk;
  bool FEndOfStream = false;
  bool FReadAny = false;  // input was taken from a source since creation
};
