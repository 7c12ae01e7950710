// The archive types (TArcType) with their names and type sets, what the extraction driver must know
// of each, and where a signature may be met.
#pragma once

#include <cstdint>

// ---- archive types ------------------------------------------------------------------------------
enum TArcType : uint8_t {
  atNA,
  atUnsupported,
  atFileOpenErr,
  atUnknown,
  atAce,
  atAceExe,
  atArc,
  atArcExe,
  atArj,
  atArjExe,
  atBh,
  atBhExe,
  atCab,
  atGZip,
  atHA,
  atJar,
  atJarExe,
  atLha,
  atLhaExe,
  atLzh,
  atLzhExe,
  atMsGZ,
  atPak,
  atPakExe,
  atRar,
  atRarExe,
  atTar,
  atTarGZip,
  atUUE,
  atZip,
  atZipExe,
  atZipDS,
  atZipMV,
  atZoo,
  // Types found by their own signatures after the 34 above: archives and single compressed files
  // that the extractor of the other formats reads with libarchive.
  at7Zip,
  atXz,
  atBZip2,
  atZstd,
  atLz4,
  atLzip,
  atCpio,
  atIso9660,
};
constexpr int kArcTypeCount = 42;
static_assert(atIso9660 + 1 == kArcTypeCount);

// The library's constant text for each type ("ZIP SFX   "; spaces included). Out of range: "".
const char* ArcTypeDisplayName(TArcType type);
// The enumeration value's own name ("atZipExe"). Out of range: "".
const char* ArcTypeEnumName(TArcType type);

// Type sets.
inline bool IsNotFoundType(TArcType t) {
  return t == atNA || t == atUnsupported || t == atFileOpenErr || t == atUnknown;
}
inline bool IsFoundType(TArcType t) {
  return !IsNotFoundType(t);
}
inline bool IsZipStructured(TArcType t) {
  return t == atJar || t == atJarExe || t == atZip || t == atZipExe;
}
inline bool IsSpannedZip(TArcType t) {
  return t == atZipDS || t == atZipMV;
}
// Zip-structured or spanned: the types whose members the zip walks read.
inline bool IsZipFamily(TArcType t) {
  return IsZipStructured(t) || IsSpannedZip(t);
}

// ---- what the extraction driver must know of a format ------------------------------------------
// How a format enciphers member data.
enum class TDataCipher : uint8_t {
  None,
  Zip,  // the traditional zip cipher (zip, jar, BH)
};

struct TArcFormatTraits {
  TDataCipher Cipher = TDataCipher::None;
  bool OpensArchiveItself = false;      // its decoder opens the archive file itself (ACE, CAB, RAR)
  bool DirectoryByName = false;         // no attributes: a name without a file part is a directory
  bool VolumeHundredsInLetter = false;  // volume 100 on moves the extension's letter on (RAR)
};
// The traits of a type (all off for types outside the table).
const TArcFormatTraits& ArcFormatTraits(TArcType type);

// Where four signature bytes were found: at the start of a plain file, or inside an executable.
enum class TSignatureMode : uint8_t { Plain, Exe };
