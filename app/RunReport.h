// What went wrong in one extraction, in words a person understands: the wizard collects what the
// extractor reported (member by member, through its OnBegin and OnError events) and this turns
// it into the text of one error box: how many files could not be extracted, why, and the first
// few of their names. It does not look at the disk or at the archive.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace wizard {

// Why a file could not be extracted.
enum class TFailure { None, Password, Checksum, Write, Method, Damaged, Other };

// The class of an engine error code. `extendedMsg` tells a missing password (the engine reports
// that no password event is there to ask) from other unassigned events.
TFailure FailureOfCode(int code, const std::string& extendedMsg);

struct TMemberResult {
  TMemberResult(std::string name = {}, TFailure failure = TFailure::None, std::string reason = {})
      : Name(std::move(name)), Failure(failure), Reason(std::move(reason)) {}

  std::string Name;  // as the person knows it: the path below the destination folder
  TFailure Failure = TFailure::None;
  std::string Reason;  // for a file that could not be written: the reason the system gave
};

// The system's reason for a failed write ("Read-only file system", "No space left on device",
// "Is a directory", ...) in the words of the error box: "the disk is read-only", "the disk is
// full", "a folder of that name is in the way"; another reason as given; empty stays empty.
std::string WriteReasonText(const std::string& systemReason);

struct TRunReport {
  std::vector<TMemberResult> Members;  // every file member the run took up, in archive order
  // Errors that belong to no member (the archive could not be opened or read): their texts.
  std::vector<std::string> ArchiveErrors;
  int Extracted = 0;           // what Extract returned
  bool PasswordTyped = false;  // whether the person typed a password

  int FailedCount() const;
  bool PasswordFailed() const;
  // The error box's text; empty when nothing went wrong.
  std::string Text() const;
  // Page 3's sentence: the designed one when every file came out; else how many of how many,
  // and how many could not be extracted.
  std::string ResultSentence(const std::string& destination) const;
};

}  // namespace wizard
