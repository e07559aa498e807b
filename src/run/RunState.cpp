#include "run/RunState.h"

#include <algorithm>

namespace kestrix {

void Progress::SetMax(int max) {
    max_ = std::max(max, 0);
    position_ = std::min(position_, max_);
}

void Progress::SetPosition(int position) {
    position_ = std::clamp(position, 0, max_);
}

void RunState::SetStatusText(const std::string& text) { status_ = text; DisplayChanged(); }
void RunState::SetTableMax(int max) { table_.SetMax(max); DisplayChanged(); }
void RunState::SetTablePosition(int position) { table_.SetPosition(position); DisplayChanged(); }
void RunState::StepTable() { table_.Step(); DisplayChanged(); }
void RunState::AllToMin() { all_.ToMin(); DisplayChanged(); }
void RunState::SetAllMax(int max) { all_.SetMax(max); DisplayChanged(); }
void RunState::SetAllPosition(int position) { all_.SetPosition(position); DisplayChanged(); }
void RunState::StepAll() { all_.Step(); DisplayChanged(); }

} // namespace kestrix
