// The zip format's numbers that more than one part of the engine needs: compression methods,
// general-purpose flag bits, record signatures and the fixed sizes of records and of the
// encryption header. Record layouts field by field are the zip records' (records/arvZipRecs.h).
#pragma once

#include <cstddef>
#include <cstdint>

// ---- compression methods ------------------------------------------------------------------------
constexpr uint32_t kMethodStored = 0;
constexpr uint32_t kMethodShrunk = 1;
constexpr uint32_t kMethodReduced1 = 2;  // reduced with compression factor 1 ...
constexpr uint32_t kMethodReduced4 = 5;  // ... up to factor 4
constexpr uint32_t kMethodImploded = 6;
constexpr uint32_t kMethodDeflated = 8;
constexpr uint32_t kMethodDeflate64 = 9;
constexpr uint32_t kMethodPpmd = 98;  // PPMd variant I revision 1

// ---- general-purpose flag bits ------------------------------------------------------------------
constexpr uint16_t kFlagEncrypted = 0x0001;       // 12-byte encryption header before the data
constexpr uint16_t kFlagImplode8K = 0x0002;       // method 6: 8192-byte window (else 4096), 7 low
                                                  // distance bits (else 6)
constexpr uint16_t kFlagImplode3Trees = 0x0004;   // method 6: a literal tree, minimum match 3
                                                  // (else 2)
constexpr uint16_t kFlagDataDescriptor = 0x0008;  // CRC and sizes follow the data; the password
                                                  // check byte is then the time's high byte
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
