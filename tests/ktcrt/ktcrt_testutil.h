// Helpers shared by the base library's tests: a view of a string's data block and an
// allocation counter hooked into the default memory manager.
#ifndef TESTS_KTCRT_KTCRT_TESTUTIL_H
#define TESTS_KTCRT_KTCRT_TESTUTIL_H

#include "kt_basic.h"

#include <stddef.h>

// The block header in front of a string's characters, or null for a string without block.
inline const CKT_StringData *BlockOf(const CKT_ByteString &s)
{
    return s.GetPtr() ? reinterpret_cast<const CKT_StringData *>(s.GetCStr() -
                                                                 offsetof(CKT_StringData, m_String))
                      : nullptr;
}

inline const CKT_StringDataW *BlockOf(const CKT_WideString &s)
{
    return s.GetPtr() ? reinterpret_cast<const CKT_StringDataW *>(
                            reinterpret_cast<const char *>(s.GetPtr()) -
                            offsetof(CKT_StringDataW, m_String))
                      : nullptr;
}

// Counts allocation requests and frees of the default manager while alive, through its
// debugger record; the previous record is restored afterwards.
class AllocCounter
{
public:
    AllocCounter()
    {
        m_debugger = {OnAlloc, OnAllocDebug, OnRealloc, OnReallocDebug, OnFree, nullptr, this};
        m_previous = KTMEM_UseDebugger(KTMEM_GetDefaultMgr(), &m_debugger);
    }
    ~AllocCounter() { KTMEM_UseDebugger(KTMEM_GetDefaultMgr(), m_previous); }
    AllocCounter(const AllocCounter &) = delete;
    AllocCounter &operator=(const AllocCounter &) = delete;

    int allocs = 0; // allocations and reallocations
    int frees = 0;
    size_t lastSize = 0;

private:
    static AllocCounter *Of(_KTMEM_ZandroMgr *m)
    {
        return static_cast<AllocCounter *>(m->m_pDebugger->user);
    }
    static void OnAlloc(_KTMEM_ZandroMgr *m, void *, size_t size, int)
    {
        Of(m)->allocs++;
        Of(m)->lastSize = size;
    }
    static void OnAllocDebug(_KTMEM_ZandroMgr *m, void *p, size_t size, int flags, const char *,
                             int)
    {
        OnAlloc(m, p, size, flags);
    }
    static void OnRealloc(_KTMEM_ZandroMgr *m, void *, void *, size_t size, int)
    {
        Of(m)->allocs++;
        Of(m)->lastSize = size;
    }
    static void OnReallocDebug(_KTMEM_ZandroMgr *m, void *o, void *p, size_t size, int flags,
                               const char *, int)
    {
        OnRealloc(m, o, p, size, flags);
    }
    static void OnFree(_KTMEM_ZandroMgr *m, void *, int) { Of(m)->frees++; }

    _KTMEM_Debugger m_debugger;
    _KTMEM_Debugger *m_previous;
};

#endif // TESTS_KTCRT_KTCRT_TESTUTIL_H
