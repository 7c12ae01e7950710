// The engine's error codes, their fixed English texts, and the exceptions the engine raises.
// Components report codes through OnError; exceptions carry the code's text as their message.
#pragma once

#include <stdexcept>
#include <string>

// Codes the engine reports (every code of the table has a text; these are the ones raised or
// reported by the engine itself and by its front ends).
constexpr int kErrReadingFileList = 25104;    // "Unable to read archive file list"
constexpr int kErrBadFileHeader = 25114;      // "Bad file header"
constexpr int kErrBadBlock = 25116;           // "Bad block"
constexpr int kErrWritingFile = 25136;        // "Error writing to file"
constexpr int kErrClosingFile = 25138;        // "Error closing file"
constexpr int kErrCrcCheck = 25151;           // "File fails CRC check"
constexpr int kErrCreatingDirectory = 25157;  // "Unable to create directory"
constexpr int kErrDiskFull = 25160;           // "Disk full"
constexpr int kErrNotAccessible = 25170;      // "is not accessible"
constexpr int kErrWriteProtected = 25171;     // "disk is write protected"
constexpr int kErrFileNotFound = 25192;       // "File not found"
constexpr int kErrOpeningFile = 25235;        // "Error opening file"
constexpr int kErrReadingFile = 25236;        // "Error reading file or unexpected end of file"
constexpr int kErrUnsupportedType = 25244;    // "Invalid or unsupported archive type ..."
constexpr int kErrInvalidFileName = 25245;    // "Invalid file name"
constexpr int kErrMaxVolumes = 25251;         // "Maximum volumes 999"
constexpr int kErrEventNotAssigned = 25270;   // "Required event not assigned"
constexpr int kErrAmbiguousTree = 25293;      // "Ambiguous Shannon-Fano decode tree encountered"
constexpr int kErrStackOverflow = 25298;      // "Stack overflow"
constexpr int kErrUnsupportedMethod = 25326;  // "Unsupported compression method"
constexpr int kErrUserCanceled = 25443;       // "User canceled"
constexpr int kErrInvalidPassword = 26517;    // "Invalid password"
constexpr int kErrPasswordFailed = 26522;     // "Password failed"

// The text of a code; empty for a code without one.
std::string LoadStr(int code);
// The table holds this many codes; MessageCodeAt(0 .. kMessageCount - 1) lists them in ascending
// order (0 outside that range), for callers that enumerate the table.
constexpr int kMessageCount = 118;
int MessageCodeAt(int index);

// The engine's exceptions. E_RAISE ends the member in work (decoding and writing errors); the
// stream errors come from the stream layer (short reads and writes, seeks, ranges).
class EArvException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class E_RAISE : public EArvException {
 public:
  using EArvException::EArvException;
};
class EStreamError : public EArvException {
 public:
  using EArvException::EArvException;
};
class EReadError : public EStreamError {  // "Stream read error"
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {  // "Stream write error", or the text of 25160
 public:
  using EStreamError::EStreamError;
};
class ERangeError : public EArvException {  // "Range check error"
 public:
  using EArvException::EArvException;
};
