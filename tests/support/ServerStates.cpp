#include "ServerStates.h"

namespace ServerStates {

void removeNoCardNeeds(FakeKestranaState& state)
{
    state.projects.clear();
    for (FakeKestranaState::Device& device : state.devices) {
        device.useCardReader = true;
    }
}

FakeKestranaState plainSample()
{
    FakeKestranaState state = FakeKestranaState::sample();
    removeNoCardNeeds(state);
    return state;
}

} // namespace ServerStates
