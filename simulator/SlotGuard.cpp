#include "simulator/SlotGuard.h"

SlotGuard::SlotGuard() : m_state(std::make_shared<State>()) {}

SlotGuard::~SlotGuard()
{
    Close();
}

void SlotGuard::Close()
{
    // Waits here for a wrapped call in progress on another thread.
    std::lock_guard<std::recursive_mutex> lock(m_state->mutex);
    m_state->open = false;
}
