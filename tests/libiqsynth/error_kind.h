// The kind of the IqSynthError a call throws: the tests' one way to say which stage refused.
#pragma once

#include <optional>

#include "iqSynthLog.h"

// The kind of the IqSynthError that call() throws; nullopt when it returns normally.
// Any other exception passes through to the test.
template <typename Call>
std::optional<arbsuite::iqsynth::IqSynthError::Kind> thrownKind(Call&& call) {
  try {
    call();
  } catch (const arbsuite::iqsynth::IqSynthError& e) {
    return e.kind();
  }
  return std::nullopt;
}
