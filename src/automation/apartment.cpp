#include "automation/apartment.h"

namespace {

struct ThreadState
{
    automation::apartment::ThreadStats stats;
    DWORD model = 0;
};

ThreadState &state()
{
    thread_local ThreadState s;
    return s;
}

} // namespace

HRESULT CoInitializeEx(void *reserved, DWORD coInit)
{
    if (reserved != nullptr)
        return E_INVALIDARG;
    ThreadState &s = state();
    if (s.stats.depth > 0 && s.model != coInit)
        return RPC_E_CHANGED_MODE;
    s.model = coInit;
    ++s.stats.entries;
    return s.stats.depth++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize()
{
    ThreadState &s = state();
    if (s.stats.depth == 0)
        return;
    --s.stats.depth;
    ++s.stats.exits;
    s.stats.liveAtLastExit = s.stats.liveObjects;
}

namespace automation::apartment {

bool isEntered()
{
    return state().stats.depth > 0;
}

ThreadStats stats()
{
    return state().stats;
}

void resetStats()
{
    const int depth = state().stats.depth;
    const int live = state().stats.liveObjects;
    state().stats = ThreadStats();
    state().stats.depth = depth;
    state().stats.liveObjects = live;
}

void objectCreated()
{
    ++state().stats.liveObjects;
    ++state().stats.created;
}

void objectDestroyed()
{
    --state().stats.liveObjects;
}

} // namespace automation::apartment
