// The zip format's numbers that more than one part of the engine needs: compression methods,
// general-purpose flag bits, record signatures and the fixed sizes of records and of the
// encryption header. Record layouts field by field are the zip records' (records/arvZipRecs.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// ---- compression methods ------------------------------------------------------------------------
constexpr uint32_t kMethodStored = 0;
constexpr uint32_t kMethodShrunk = 1;
constexpr uint32_t kMethodReduced1 = 2;  // reduced with compression factor 1 ...
constexpr uint32_t kMethodReduced4 = 5;  // ... up to factor 4
constexpr uint32_t kMethodImploded = 6;
constexpr uint32_t kMethodDeflated = 8;
constexpr uint32_t kMethodDeflate64 = 9;
constexpr uint32_t kMethodBzip2 = 12;
constexpr uint32_t kMethodLzma = 14;
constexpr uint32_t kMethodTerse = 18;     // IBM TERSE (new)
constexpr uint32_t kMethodZstdOld = 20;   // Zstandard under the number first given to it
constexpr uint32_t kMethodZstd = 93;
constexpr uint32_t kMethodXz = 95;
constexpr uint32_t kMethodJpeg = 96;      // JPEG variant
constexpr uint32_t kMethodWavPack = 97;
constexpr uint32_t kMethodPpmd = 98;      // PPMd version I, revision 1
constexpr uint32_t kMethodAes = 99;       // WinZip AES: the real method is in the 0x9901 extra

// ---- general-purpose flag bits ------------------------------------------------------------------
constexpr uint16_t kFlagEncrypted = 0x0001;       // 12-byte encryption header before the data
constexpr uint16_t kFlagImplode8K = 0x0002;       // method 6: 8192-byte window (else 4096), 7 low
                                                  // distance bits (else 6)
constexpr uint16_t kFlagImplode3Trees = 0x0004;   // method 6: a literal tree, minimum match 3
                                                  // (else 2)
constexpr uint16_t kFlagDataDescriptor = 0x0008;  // CRC and sizes follow the data; the password
                                                  // check byte is then the time's high byte
constexpr uint16_t kFlagLzmaEndMarker = 0x0002;   // method 14: the data ends with an end marker
constexpr uint16_t kFlagStrongEncryption = 0x0040;  // PKWARE's strong encryption (0x0017 extra)
constexpr uint16_t kFlagUtf8Name = 0x0800;        // the name is UTF-8, not OEM text

// ---- signatures ---------------------------------------------------------------------------------
constexpr uint32_t kLocalSig = 0x04034B50;         // "PK\3\4"
constexpr uint32_t kLocalSigAlt = 0x04034D50;      // "PM\3\4", read like "PK"
constexpr uint32_t kLocalSigCiph = 0x04034C50;     // "PL\3\4", enciphered header
constexpr uint32_t kLocalSigCiphAlt = 0x04034E50;  // "PN\3\4", enciphered header
constexpr uint32_t kCentralSig = 0x02014B50;
constexpr uint32_t kCentralSigAlt = 0x02014D50;
constexpr uint32_t kCentralSigCiph = 0x02014C50;
constexpr uint32_t kCentralSigCiphAlt = 0x02014E50;
constexpr uint32_t kEndSig = 0x06054B50;
constexpr uint32_t kEndSigCiph = 0x06054C50;
constexpr uint32_t kEndSigEx = 0x06055B50;  // extended end record (64-bit directory offset)
constexpr uint32_t kEndSigExCiph = 0x06055C50;
constexpr uint32_t kSpanMarkerSig = 0x08074B50;          // first bytes of a spanned or split set
constexpr uint32_t kDataDescriptorSig = kSpanMarkerSig;  // 50 4B 07 08, the same four bytes

// ---- fixed sizes --------------------------------------------------------------------------------
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kEndRecordExSize = 26;
// Bytes of the encryption header in front of an encrypted member's data; the last is the check.
constexpr size_t kZipEncryptionHeaderSize = 12;

// The name people know a zip method by ("BZip2", "LZMA", "Deflate64"); "method N" for numbers
// without one.
inline std::string ZipMethodName(uint32_t method) {
  switch (method) {
    case kMethodStored: return "Stored";
    case kMethodShrunk: return "Shrunk";
    case 2: case 3: case 4: case 5: return "Reduce-" + std::to_string(method - 1);
    case kMethodImploded: return "Imploded";
    case 7: return "Tokenized";
    case kMethodDeflated: return "Deflate";
    case kMethodDeflate64: return "Deflate64";
    case 10: return "PKWARE DCL Implode";
    case kMethodBzip2: return "BZip2";
    case kMethodLzma: return "LZMA";
    case 16: return "IBM z/OS CMPSC";
    case kMethodTerse: return "IBM TERSE";
    case 19: return "IBM LZ77 z";
    case kMethodZstdOld: case kMethodZstd: return "Zstd";
    case 94: return "MP3";
    case kMethodXz: return "XZ";
    case kMethodJpeg: return "JPEG";
    case kMethodWavPack: return "WavPack";
    case kMethodPpmd: return "PPMd";
    case kMethodAes: return "AES";
    default: return "method " + std::to_string(method);
  }
}
