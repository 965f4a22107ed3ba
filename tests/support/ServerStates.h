#pragma once

#include "FakeKestranaState.h"

// Fake server states shared by the job suites.
namespace ServerStates {
// Takes out everything that needs the no-card dialog: no fee projects, card readers everywhere.
void removeNoCardNeeds(FakeKestranaState& state);
// The sample server so changed.
FakeKestranaState plainSample();
} // namespace ServerStates
