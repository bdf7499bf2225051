// Per-thread automation apartments.
//
// A thread must enter an apartment before it creates automation objects and
// leave it once it has released them, as with COM. The state is kept per
// thread; nothing is shared between threads.
#pragma once

using HRESULT = long;
using DWORD = unsigned long;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106L);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057L);

enum COINIT : DWORD
{
    COINIT_MULTITHREADED = 0x0,
    COINIT_APARTMENTTHREADED = 0x2,
};

// Enters the calling thread's apartment (nested entries are counted). S_OK for
// the first entry, S_FALSE for a nested one, RPC_E_CHANGED_MODE when the thread
// already entered with another concurrency model.
HRESULT CoInitializeEx(void *reserved, DWORD coInit);
// Leaves one level of the calling thread's apartment.
void CoUninitialize();

namespace automation::apartment {

// What one thread did with its apartment; for checks and tests.
struct ThreadStats
{
    int depth = 0;          // current nesting; 0 outside any apartment
    int entries = 0;        // successful CoInitializeEx calls
    int exits = 0;          // CoUninitialize calls that left a level
    int liveObjects = 0;    // automation objects alive on this thread
    int created = 0;        // automation objects created on this thread
    int liveAtLastExit = 0; // liveObjects when the thread last left a level
};

bool isEntered();
ThreadStats stats();
void resetStats();

// Bookkeeping by the dispatch objects.
void objectCreated();
void objectDestroyed();

} // namespace automation::apartment
