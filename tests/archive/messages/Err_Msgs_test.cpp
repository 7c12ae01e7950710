// Tests of the message table: its size and order, texts kept letter for letter (spelling slips
// included), the empty text of unknown codes, and the exception hierarchy.
#include "archive/messages/Err_Msgs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

TEST(ErrMsgs, TableHas118AscendingCodesInRangeEachWithText) {
  ASSERT_EQ(kMessageCount, 118);
  int previous = 0;
  for (int i = 0; i < kMessageCount; ++i) {
    const int code = MessageCodeAt(i);
    EXPECT_GT(code, previous) << "index " << i;
    EXPECT_GE(code, 25101);
    EXPECT_LE(code, 26899);
    EXPECT_FALSE(LoadStr(code).empty()) << code;
    previous = code;
  }
  EXPECT_EQ(MessageCodeAt(0), 25101);
  EXPECT_EQ(MessageCodeAt(kMessageCount - 1), 26899);
  EXPECT_EQ(MessageCodeAt(-1), 0);
  EXPECT_EQ(MessageCodeAt(kMessageCount), 0);
}

// A fingerprint (FNV-1a, 64 bit) of "code=text\n" for every entry in order: any changed letter,
// space or code anywhere in the table changes it.
TEST(ErrMsgs, WholeTableFingerprint) {
  uint64_t hash = 0xcbf29ce484222325ULL;
  size_t bytes = 0;
  for (int i = 0; i < kMessageCount; ++i) {
    const int code = MessageCodeAt(i);
    const std::string line = std::to_string(code) + "=" + LoadStr(code) + "\n";
    for (const char c : line) {
      hash ^= static_cast<uint8_t>(c);
      hash *= 0x100000001b3ULL;
    }
    bytes += line.size();
  }
  EXPECT_EQ(bytes, 3808u);
  EXPECT_EQ(hash, 0xca2e03ddddb9b88aULL);
}

TEST(ErrMsgs, TextsKeptLetterForLetter) {
  EXPECT_EQ(LoadStr(25101), "64 bit hearder");
  EXPECT_EQ(LoadStr(25249), "Inconsistant local header");
  EXPECT_EQ(LoadStr(25247), "Inconsistent bit counts - gencodes");
  EXPECT_EQ(LoadStr(25155), "Disks contains neither label nor serial numbers to compare");
  EXPECT_EQ(LoadStr(25281), "Open paran, but no close paran");
  EXPECT_EQ(LoadStr(25241), "Line found before 'BEGIN'");
  EXPECT_EQ(LoadStr(25260), "Unrar?.dll not found");
  EXPECT_EQ(LoadStr(25103), "Error loading unacev2.dll...");
  EXPECT_EQ(LoadStr(25159), "Invalid directory... defaulting to current");
  EXPECT_EQ(LoadStr(25232), "Flat ScrollBar requires COMCTL32.dll version 4.71 or above.");
  EXPECT_EQ(LoadStr(26000), "All_files (*.*)|*.*");
  EXPECT_EQ(LoadStr(26001),
            "ALL Archives |*.ace;*.arc;*.arj;*.bh;*.cab;*.enc;*.exe;*.gz;*.ha;*.jar;*.lha;*.lzh;"
            "*.mbf;*.mim;*.pak;*.pk3;*.pk_;*.rar;*.tar;*.tgz;*.uue;*.xxe;*.z;*.zip;*.zlib;*.zoo");
  EXPECT_EQ(LoadStr(26899), "Directory does not exist... Create?");
  // Two codes share a text in two places of the table.
  EXPECT_EQ(LoadStr(25172), "EOF not found");
  EXPECT_EQ(LoadStr(25179), "EOF not found");
  EXPECT_EQ(LoadStr(25268), "Nothing to do");
  EXPECT_EQ(LoadStr(26859), "Nothing to do");
}

TEST(ErrMsgs, CodesTheEngineReports) {
  EXPECT_EQ(LoadStr(kErrBadFileHeader), "Bad file header");
  EXPECT_EQ(LoadStr(kErrBadBlock), "Bad block");
  EXPECT_EQ(LoadStr(kErrWritingFile), "Error writing to file");
  EXPECT_EQ(LoadStr(kErrClosingFile), "Error closing file");
  EXPECT_EQ(LoadStr(kErrCrcCheck), "File fails CRC check");
  EXPECT_EQ(LoadStr(kErrDiskFull), "Disk full");
  EXPECT_EQ(LoadStr(kErrNotAccessible), "is not accessible");
  EXPECT_EQ(LoadStr(kErrWriteProtected), "disk is write protected");
  EXPECT_EQ(LoadStr(kErrFileNotFound), "File not found");
  EXPECT_EQ(LoadStr(kErrOpeningFile), "Error opening file");
  EXPECT_EQ(LoadStr(kErrReadingFile), "Error reading file or unexpected end of file");
  EXPECT_EQ(LoadStr(kErrInvalidFileName), "Invalid file name");
  EXPECT_EQ(LoadStr(kErrMaxVolumes), "Maximum volumes 999");
  EXPECT_EQ(LoadStr(kErrEventNotAssigned), "Required event not assigned");
  EXPECT_EQ(LoadStr(kErrAmbiguousTree), "Ambiguous Shannon-Fano decode tree encountered");
  EXPECT_EQ(LoadStr(kErrStackOverflow), "Stack overflow");
  EXPECT_EQ(LoadStr(kErrUnsupportedMethod), "Unsupported compression method");
  EXPECT_EQ(LoadStr(kErrUserCanceled), "User canceled");
  EXPECT_EQ(LoadStr(kErrInvalidPassword), "Invalid password");
}

TEST(ErrMsgs, CodesWithoutTextGiveEmptyText) {
  for (const int code : {0, -1, 25100, 25105, 25109, 25300, 26003, 26900, 99999})
    EXPECT_EQ(LoadStr(code), "") << code;
}

TEST(ErrMsgs, ExceptionsCarryTheTextAndShareOneBase) {
  try {
    throw E_RAISE(LoadStr(kErrBadBlock));
  } catch (const EArvException& e) {
    EXPECT_STREQ(e.what(), "Bad block");
  }
  try {
    throw EWriteError(LoadStr(kErrDiskFull));
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "Disk full");
  }
  EXPECT_THROW(throw EReadError("Stream read error"), EArvException);
  EXPECT_THROW(throw ERangeError("Range check error"), std::runtime_error);
}

}  // namespace
