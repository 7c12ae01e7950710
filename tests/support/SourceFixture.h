// Helpers for the tests of member sources: detect a file as the engine does (type and start
// offset), walk a source to its end decoding every member into memory, and compare what it yields
// with the lister's names. Header only.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/formats/arvMemberSource.h"
#include "archive/records/arvregister.h"
#include "platform/host.h"
#include "support/ReaderFixture.h"

namespace parcelo::test {

struct TDrainedMember {
  TSourceMember member;
  std::string data;
  TDecodeResult result = TDecodeResult::Ok;
  int errorCode = 0;
};

struct TDrained {
  std::vector<TDrainedMember> members;
  int endError = 0;  // ErrorCode() when Next answered false
  const TDrainedMember* Find(const std::string& name) const {
    for (const TDrainedMember& m : members)
      if (m.member.Name == name) return &m;
    return nullptr;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const TDrainedMember& m : members) names.push_back(m.member.Name);
    return names;
  }
};

// Whole bytes compared without printing them: a difference says where and how long each is.
inline ::testing::AssertionResult SameBytes(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
  return ::testing::AssertionFailure() << "got " << got.size() << " bytes, want " << want.size()
                                       << ", first difference at " << at;
}

// Type detection of a host file: the type and where its first record starts.
struct TDetected {
  TArcType type = atNA;
  int64_t start = 0;
};
inline TDetected Detect(const std::string& hostPath) {
  TRegisterArcova reg;
  reg.SetArchiveFile(host::FromHostPath(hostPath));
  return {reg.ArcType(), reg.StartOffset()};
}

// Walks a source to its end, decoding every member (`decode` false: none). A walk longer than
// `limit` members fails the test (a loop).
inline TDrained Drain(TMemberSource* source, bool decode = true, size_t limit = 100000) {
  TDrained out;
  if (!source) return out;
  TSourceMember member;
  while (source->Next(member)) {
    TDrainedMember m;
    m.member = member;
    if (decode) {
      m.result = source->Decode(
          [&](const uint8_t* bytes, size_t count) {
            m.data.append(reinterpret_cast<const char*>(bytes), count);
          },
          "");
      m.errorCode = source->ErrorCode();
    }
    out.members.push_back(std::move(m));
    if (out.members.size() > limit) {
      ADD_FAILURE() << "the source does not end";
      break;
    }
  }
  out.endError = source->ErrorCode();
  return out;
}

// The names a source yields as the lister names them: "\" separators, folders with a trailing
// "\" only when `folders`.
inline std::vector<std::string> ListerStyleNames(const TDrained& drained, bool folders) {
  std::vector<std::string> names;
  for (const TDrainedMember& m : drained.members) {
    if (m.member.Kind == TMemberKind::Folder && !folders) continue;
    std::string name = Backslashed(m.member.Name);
    if (m.member.Kind == TMemberKind::Folder && (name.empty() || name.back() != '\\')) name += '\\';
    names.push_back(name);
  }
  return names;
}

// The archive with each of `rounds` random bytes flipped, walked and decoded: never a crash, a hang
// or a result that claims more than it can.
inline void DrainWithFlips(const std::string& hostPath, const Bytes& whole, size_t rounds,
                           const std::function<std::unique_ptr<TMemberSource>()>& open,
                           uint32_t seed = 7) {
  std::mt19937 random(seed);
  for (size_t round = 0; round < rounds; ++round) {
    Bytes damaged = whole;
    const size_t flips = 1 + random() % 4;
    for (size_t i = 0; i < flips && !damaged.empty(); ++i)
      damaged[random() % damaged.size()] ^= static_cast<uint8_t>(1 + random() % 255);
    WriteBytes(hostPath, damaged);
    auto source = open();
    Drain(source.get(), true, 100000);
  }
  WriteBytes(hostPath, whole);
}

}  // namespace parcelo::test
