#pragma once
// A run state for tests: every pump is counted and runs an optional hook, from which a test
// cancels the run or changes a database at a chosen point.
#include <functional>

#include "run/RunState.h"

namespace kestrix::test {

class TestRunState : public RunState {
public:
    void PumpMessages() override {
        ++PumpCount;
        if (OnPump) OnPump(*this);
    }
    int PumpCount = 0;
    std::function<void(TestRunState&)> OnPump;
};

} // namespace kestrix::test
