// What one extraction came to, in words a person understands: a view of the extraction job's run
// result (archive/driver/arvExtractJob.h) — the error box's text (how many files could not be
// extracted, why, the first few of their names), the warning box's text (what was said while
// nothing was lost), and page 3's sentence, all from the result's verdict, counts and typed
// reports. It decides nothing the result does not say, and looks at neither the disk nor the
// archive.
#pragma once

#include <string>
#include <vector>

#include "archive/driver/arvExtractJob.h"

namespace wizard {

// Why a file could not be extracted.
enum class TFailure { None, Password, Checksum, Write, Method, Damaged, Other };

// The class of an engine error code. `detail` tells a missing password (the engine reports that
// no password event is there to ask) from other unassigned events.
TFailure FailureOfCode(int code, const std::string& detail);

// The system's reason for a failed write ("Read-only file system", "No space left on device",
// "Is a directory", ...) in the words of the error box: "the disk is read-only", "the disk is
// full", "a folder of that name is in the way"; another reason as given; empty stays empty.
std::string WriteReasonText(const std::string& systemReason);

// A member that was not extracted, as the error box names it.
struct TMemberFailure {
  std::string Name;  // the member's stored name, "\"-separated
  TFailure Failure = TFailure::Other;
  std::string Reason;  // a write failure: the reason the system gave
};

class TRunReport {
 public:
  TRunReport() = default;
  // `passwordTyped`: whether the person typed a password (the advice differs).
  TRunReport(TRunResult result, bool passwordTyped)
      : FResult(std::move(result)), FPasswordTyped(passwordTyped) {}

  const TRunResult& Result() const { return FResult; }
  TRunVerdict Verdict() const { return FResult.Verdict(); }
  int Extracted() const { return FResult.FilesExtracted; }
  // Files (members that are folders not counted) that were not extracted: every one the result
  // names, and those the extractor counted as failed without a reason.
  int FailedCount() const;
  // The files the result names as not extracted, in the result's order, with their reasons.
  std::vector<TMemberFailure> FailedFiles() const;
  bool PasswordFailed() const;
  bool Cancelled() const { return FResult.Cancelled; }
  // Nothing came out and something went wrong (or the run was cancelled): the folder made for it
  // goes again, and the wizard stays on its page.
  bool NothingCameOut() const { return Verdict() == TRunVerdict::Failed; }

  // The error box's text: what failed; empty when nothing did (a cancel is no failure to tell).
  std::string Text() const;
  // The warning box's text: what was said while nothing was lost; empty when nothing was.
  std::string WarningText() const;
  // Page 3's sentence: the designed one when every file came out (warnings or not); else how
  // many of how many, and how many could not be extracted.
  std::string ResultSentence(const std::string& destination) const;

 private:
  TRunResult FResult;
  bool FPasswordTyped = false;
};

}  // namespace wizard
