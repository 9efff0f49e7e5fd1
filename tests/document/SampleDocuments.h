// The documents MakeDocuments.py writes, made once per test program into a
// directory of their own, and the reader's answer for them.
#pragma once

#include <optional>
#include <string>

#include "DocumentReader.h"
#include "TempDir.h"

namespace documenttest {

// The file's bytes; empty when the script could not make it (python3 or
// the module is missing).
std::string SampleBytes(const std::string& name);
std::string SamplePath(const std::string& name);

struct TReadResult {
  std::optional<TDocumentContent> content;
  std::string error;
};

inline TReadResult Read(TDocumentKind kind, const std::string& bytes,
                        const TDocumentLimits& limits = {}) {
  TReadResult result;
  result.content = ReadDocument(kind, bytes, limits, result.error);
  return result;
}

}  // namespace documenttest

// The test's bytes of the sample, or the test is skipped.
#define SAMPLE_OR_SKIP(variable, name)                                                    \
  const std::string variable = documenttest::SampleBytes(name);                          \
  if (variable.empty()) GTEST_SKIP() << name << " needs /usr/bin/python3 with its module"
