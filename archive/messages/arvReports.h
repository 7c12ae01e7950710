// The engine's typed report: what went wrong (or what is worth saying), how bad it is, and what
// it is about. Every message the engine gives is one such record; the designed OnError event is
// fed from it with its designed arguments, and front ends learn from its fields, never from the
// wording of its texts. Plain data: no events, no knowledge of any component.
#pragma once

#include <cstdint>
#include <string>

// How bad it is. The engine decides this where it knows it.
enum class TReportSeverity : uint8_t {
  Info,     // news (a run cancelled by the person who runs it)
  Warning,  // something was said and nothing was lost (a directory recovered, a name fixed up)
  Failed,   // this member or volume was not extracted, tested or listed
  Fatal,    // the archive cannot be read at all
};

// What it is about.
enum class TReportSubject : uint8_t {
  Archive,  // the archive as a whole
  Volume,   // one volume or disk of a set
  Member,   // one member
};

struct TReport {
  TReportSeverity Severity = TReportSeverity::Failed;
  TReportSubject Subject = TReportSubject::Member;
  // The subject's name: the archive's path, the volume's path, or the member's stored name (in
  // system form, "\"-separated) as listed.
  std::string Name;
  int Code = 0;         // the code of the engine's message table (LoadStr gives its text)
  std::string Detail;   // what the code's text leaves out: the system's reason, numbers, a name
  bool DetailIsPath = false;  // the detail is a path in system syntax (the current output file)
  // OnError's own arguments, as the designed event gives them: the file named (an output path,
  // the archive, a volume) and the volume number as text ("0" when none).
  std::string FileName;
  std::string VolumeId = "0";
};

// Short names of the enumerations, for logs and tests ("warning", "member", ...).
const char* SeverityName(TReportSeverity severity);
const char* SubjectName(TReportSubject subject);
