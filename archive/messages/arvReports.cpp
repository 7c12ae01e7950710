// Names of the typed report's enumerations.
#include "archive/messages/arvReports.h"

#include <cstddef>
#include <iterator>

namespace {
constexpr const char* kSeverityNames[] = {"info", "warning", "failed", "fatal"};
constexpr const char* kSubjectNames[] = {"archive", "volume", "member"};
static_assert(std::size(kSeverityNames) == static_cast<size_t>(TReportSeverity::Fatal) + 1);
static_assert(std::size(kSubjectNames) == static_cast<size_t>(TReportSubject::Member) + 1);
}  // namespace

const char* SeverityName(TReportSeverity severity) {
  const auto index = static_cast<size_t>(severity);
  return index < std::size(kSeverityNames) ? kSeverityNames[index] : "?";
}

const char* SubjectName(TReportSubject subject) {
  const auto index = static_cast<size_t>(subject);
  return index < std::size(kSubjectNames) ? kSubjectNames[index] : "?";
}
