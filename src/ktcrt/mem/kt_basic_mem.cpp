// Memory manager: the C-library system layer, the default manager, the checked entry points and
// the object allocation operators.
#include "kt_basic_mem.h"

#include <stdlib.h>

namespace {

void *CRT_Alloc(_KTMEM_SystemMgr *, size_t size, int)
{
    return malloc(size);
}

void *CRT_AllocDebug(_KTMEM_SystemMgr *, size_t size, int, const char *, int)
{
    return malloc(size);
}

void *CRT_Realloc(_KTMEM_SystemMgr *, void *p, size_t size, int)
{
    return realloc(p, size);
}

void *CRT_ReallocDebug(_KTMEM_SystemMgr *, void *p, size_t size, int, const char *, int)
{
    return realloc(p, size);
}

void CRT_Free(_KTMEM_SystemMgr *, void *p, int)
{
    free(p);
}

_KTMEM_ZandroMgr *MgrOf(_IKT_Allocator *pAllocator)
{
    return reinterpret_cast<_KTMEM_MgrAllocator *>(pAllocator)->m_pMgr;
}

void *MgrAllocDebug(_IKT_Allocator *pAllocator, size_t size, const char *file, int line)
{
    return KTMEM_AllocDebug(MgrOf(pAllocator), size, 0, file, line);
}

void *MgrAlloc(_IKT_Allocator *pAllocator, size_t size)
{
    return KTMEM_Alloc(MgrOf(pAllocator), size, 0);
}

void *MgrReallocDebug(_IKT_Allocator *pAllocator, void *p, size_t size, const char *file, int line)
{
    return KTMEM_ReallocDebug(MgrOf(pAllocator), p, size, 0, file, line);
}

void *MgrRealloc(_IKT_Allocator *pAllocator, void *p, size_t size)
{
    return KTMEM_Realloc(MgrOf(pAllocator), p, size, 0);
}

void MgrFree(_IKT_Allocator *pAllocator, void *p)
{
    KTMEM_Free(MgrOf(pAllocator), p, 0);
}

void InitMgr(CKT_MemoryMgr *pMgr, _KTMEM_SystemMgr *pSystemMgr, int bOwned)
{
    pMgr->m_pSystemMgr = pSystemMgr;
    pMgr->m_pDebugger = nullptr;
    pMgr->m_pOOMHandler = nullptr;
    pMgr->m_pOOMHandlerParam = nullptr;
    pMgr->m_Allocator.m_Allocator = {MgrAllocDebug, MgrAlloc, MgrReallocDebug, MgrRealloc, MgrFree};
    pMgr->m_Allocator.m_pMgr = pMgr;
    pMgr->m_pCacheMgr = nullptr;
    pMgr->m_pReserved = nullptr;
    pMgr->m_pExtBlock = nullptr;
    pMgr->m_bOwned = bOwned;
}

// The largest block the checked entry points hand out.
const size_t kMaxCheckedBytes = 0x7FFFFFFF;

// Validates size * unit for the checked entry points. Returns true when the request may go on;
// false for a quiet failure (zero size or unit) or an overflow, which is reported as exhaustion
// unless flag bit 0 is set.
bool CheckSize(size_t size, size_t unit, int flags)
{
    if (size == 0 || unit == 0)
        return false;
    // Byte counts (unit 1) are what nearly every request carries; they need no division.
    if (unit == 1 ? size > kMaxCheckedBytes : size > kMaxCheckedBytes / unit) {
        if (!(flags & KTMEM_NONLEAVE))
            KTMEM_ReportOOM(g_pDefZandroMgr);
        return false;
    }
    return true;
}

} // namespace

_KTMEM_SystemMgr g_CRTSystemMgr = {CRT_Alloc, CRT_AllocDebug, CRT_Realloc, CRT_ReallocDebug,
                                   nullptr,   nullptr,        CRT_Free,    nullptr,
                                   nullptr,   nullptr};

CKT_MemoryMgr g_DefZandroMgr = {
    &g_CRTSystemMgr,
    nullptr,
    nullptr,
    nullptr,
    {{MgrAllocDebug, MgrAlloc, MgrReallocDebug, MgrRealloc, MgrFree}, &g_DefZandroMgr},
    nullptr,
    nullptr,
    nullptr,
    0};

_KTMEM_ZandroMgr *g_pDefZandroMgr = &g_DefZandroMgr;

void KTMEM_ReportOOM(_KTMEM_ZandroMgr *pMgr)
{
    if (pMgr->m_pOOMHandler)
        pMgr->m_pOOMHandler(pMgr, pMgr->m_pOOMHandlerParam);
}

void KTMEM_SetOOMHandler(_KTMEM_ZandroMgr *pMgr, KTMEM_OOMHandler handler, void *param)
{
    pMgr->m_pOOMHandler = handler;
    pMgr->m_pOOMHandlerParam = param;
}

_KTMEM_Debugger *KTMEM_UseDebugger(_KTMEM_ZandroMgr *pMgr, _KTMEM_Debugger *pDebugger)
{
    _KTMEM_Debugger *pOld = pMgr->m_pDebugger;
    pMgr->m_pDebugger = pDebugger;
    return pOld;
}

void KTMEM_OutputDebugTag(_KTMEM_ZandroMgr *pMgr, const char *tag)
{
    if (pMgr->m_pDebugger && pMgr->m_pDebugger->OnTag)
        pMgr->m_pDebugger->OnTag(pMgr, tag);
}

void *KTMEM_Alloc(_KTMEM_ZandroMgr *pMgr, size_t size, int flags)
{
    void *p = pMgr->m_pSystemMgr->Alloc(pMgr->m_pSystemMgr, size, flags);
    if (pMgr->m_pDebugger)
        pMgr->m_pDebugger->OnAlloc(pMgr, p, size, flags);
    if (!p && !(flags & KTMEM_NONLEAVE))
        KTMEM_ReportOOM(pMgr);
    return p;
}

void *KTMEM_AllocDebug(_KTMEM_ZandroMgr *pMgr, size_t size, int flags, const char *file, int line)
{
    void *p = pMgr->m_pSystemMgr->AllocDebug(pMgr->m_pSystemMgr, size, flags, file, line);
    if (pMgr->m_pDebugger)
        pMgr->m_pDebugger->OnAllocDebug(pMgr, p, size, flags, file, line);
    if (!p && !(flags & KTMEM_NONLEAVE))
        KTMEM_ReportOOM(pMgr);
    return p;
}

void *KTMEM_Realloc(_KTMEM_ZandroMgr *pMgr, void *p, size_t size, int flags)
{
    void *pNew = pMgr->m_pSystemMgr->Realloc(pMgr->m_pSystemMgr, p, size, flags);
    if (pMgr->m_pDebugger)
        pMgr->m_pDebugger->OnRealloc(pMgr, p, pNew, size, flags);
    if (!pNew && !(flags & KTMEM_NONLEAVE))
        KTMEM_ReportOOM(pMgr);
    return pNew;
}

void *KTMEM_ReallocDebug(_KTMEM_ZandroMgr *pMgr, void *p, size_t size, int flags, const char *file,
                         int line)
{
    void *pNew = pMgr->m_pSystemMgr->ReallocDebug(pMgr->m_pSystemMgr, p, size, flags, file, line);
    if (pMgr->m_pDebugger)
        pMgr->m_pDebugger->OnReallocDebug(pMgr, p, pNew, size, flags, file, line);
    if (!pNew && !(flags & KTMEM_NONLEAVE))
        KTMEM_ReportOOM(pMgr);
    return pNew;
}

void KTMEM_Free(_KTMEM_ZandroMgr *pMgr, void *p, int flags)
{
    if (!p)
        return;
    if (pMgr->m_pDebugger)
        pMgr->m_pDebugger->OnFree(pMgr, p, flags);
    pMgr->m_pSystemMgr->Free(pMgr->m_pSystemMgr, p, flags);
}

void *KTMEM_DefaultAlloc(size_t size, int flags)
{
    return KTMEM_Alloc(g_pDefZandroMgr, size, flags);
}

void *KTMEM_DefaultAllocDebug(size_t size, int flags, const char *file, int line)
{
    return KTMEM_AllocDebug(g_pDefZandroMgr, size, flags, file, line);
}

void *KTMEM_DefaultAlloc2(size_t size, size_t unit, int flags)
{
    if (!CheckSize(size, unit, flags))
        return nullptr;
    return KTMEM_Alloc(g_pDefZandroMgr, size * unit, flags);
}

void *KTMEM_DefaultAllocDebug2(size_t size, size_t unit, int flags, const char *file, int line)
{
    if (!CheckSize(size, unit, flags))
        return nullptr;
    return KTMEM_AllocDebug(g_pDefZandroMgr, size * unit, flags, file, line);
}

void *KTMEM_DefaultRealloc(void *p, size_t size, int flags)
{
    if (!p)
        return KTMEM_DefaultAlloc(size, flags);
    return KTMEM_Realloc(g_pDefZandroMgr, p, size, flags);
}

void *KTMEM_DefaultReallocDebug(void *p, size_t size, int flags, const char *file, int line)
{
    if (!p)
        return KTMEM_DefaultAllocDebug(size, flags, file, line);
    return KTMEM_ReallocDebug(g_pDefZandroMgr, p, size, flags, file, line);
}

void *KTMEM_DefaultRealloc2(void *p, size_t size, size_t unit, int flags)
{
    if (!CheckSize(size, unit, flags))
        return nullptr;
    return KTMEM_DefaultRealloc(p, size * unit, flags);
}

void *KTMEM_DefaultReallocDebug2(void *p, size_t size, size_t unit, int flags, const char *file,
                                 int line)
{
    if (!CheckSize(size, unit, flags))
        return nullptr;
    return KTMEM_DefaultReallocDebug(p, size * unit, flags, file, line);
}

void KTMEM_DefaultFree(void *p, int flags)
{
    KTMEM_Free(g_pDefZandroMgr, p, flags);
}

int KTMEM_PurgeMgr(_KTMEM_ZandroMgr *pMgr)
{
    if (pMgr->m_pCacheMgr) {
        for (_KTMEM_Cache *pCache = pMgr->m_pCacheMgr->m_pFirst; pCache; pCache = pCache->m_pNext)
            pCache->Purge(pCache);
    }
    return pMgr->m_pSystemMgr->Purge ? pMgr->m_pSystemMgr->Purge(pMgr->m_pSystemMgr) : 0;
}

int KTMEM_CollectAll(_KTMEM_ZandroMgr *pMgr)
{
    return pMgr->m_pSystemMgr->CollectAll ? pMgr->m_pSystemMgr->CollectAll(pMgr->m_pSystemMgr) : 0;
}

bool KTMEM_RegisterCache(_KTMEM_ZandroMgr *pMgr, _KTMEM_Cache *pCache)
{
    if (!pMgr->m_pCacheMgr) {
        // The cache manager comes from the system layer itself, so that it needs no debugger
        // bookkeeping and can be released after every cache during destruction.
        void *p = pMgr->m_pSystemMgr->Alloc(pMgr->m_pSystemMgr, sizeof(_KTMEM_CacheMgr), 0);
        if (!p)
            return false;
        pMgr->m_pCacheMgr = static_cast<_KTMEM_CacheMgr *>(p);
        pMgr->m_pCacheMgr->m_pFirst = nullptr;
    }
    pCache->m_pNext = pMgr->m_pCacheMgr->m_pFirst;
    pMgr->m_pCacheMgr->m_pFirst = pCache;
    return true;
}

void KTMEM_UnregisterCache(_KTMEM_ZandroMgr *pMgr, _KTMEM_Cache *pCache)
{
    if (!pMgr->m_pCacheMgr)
        return;
    for (_KTMEM_Cache **ppLink = &pMgr->m_pCacheMgr->m_pFirst; *ppLink;
         ppLink = &(*ppLink)->m_pNext) {
        if (*ppLink == pCache) {
            *ppLink = pCache->m_pNext;
            pCache->m_pNext = nullptr;
            return;
        }
    }
}

void KTMEM_SetDefaultMgr(_KTMEM_ZandroMgr *pMgr)
{
    g_pDefZandroMgr = pMgr;
}

_KTMEM_ZandroMgr *KTMEM_GetDefaultMgr()
{
    return g_pDefZandroMgr;
}

_IKT_Allocator *KTMEM_GetDefAllocator()
{
    return &g_pDefZandroMgr->m_Allocator.m_Allocator;
}

_KTMEM_ZandroMgr *KTMEM_CreateZandroMgr(_KTMEM_SystemMgr *pSystemMgr)
{
    if (!pSystemMgr)
        return nullptr;
    void *p = pSystemMgr->Alloc(pSystemMgr, sizeof(CKT_MemoryMgr), 0);
    if (!p)
        return nullptr;
    CKT_MemoryMgr *pMgr = static_cast<CKT_MemoryMgr *>(p);
    InitMgr(pMgr, pSystemMgr, 1);
    return pMgr;
}

void KTMEM_DestroyZandroMgr(_KTMEM_ZandroMgr *pMgr)
{
    if (!pMgr)
        return;
    _KTMEM_SystemMgr *pSystemMgr = pMgr->m_pSystemMgr;
    if (_KTMEM_CacheMgr *pCacheMgr = pMgr->m_pCacheMgr) {
        pMgr->m_pCacheMgr = nullptr;
        _KTMEM_Cache *pCache = pCacheMgr->m_pFirst;
        while (pCache) {
            _KTMEM_Cache *pNext = pCache->m_pNext;
            pCache->m_pNext = nullptr;
            if (pCache->Release)
                pCache->Release(pCache);
            pCache = pNext;
        }
        pSystemMgr->Free(pSystemMgr, pCacheMgr, 0);
    }
    if (pSystemMgr->CollectAll)
        pSystemMgr->CollectAll(pSystemMgr);
    void *pExtBlock = pMgr->m_pExtBlock;
    pMgr->m_pExtBlock = nullptr;
    if (pMgr->m_bOwned)
        pSystemMgr->Free(pSystemMgr, pMgr, 0);
    free(pExtBlock);
}

void *KT_AllocatorAlloc(_IKT_Allocator *pAllocator, size_t size)
{
    if (pAllocator)
        return pAllocator->Alloc(pAllocator, size);
    return KTMEM_DefaultAlloc2(size, 1, 0);
}

void *KT_AllocatorRealloc(_IKT_Allocator *pAllocator, void *p, size_t size)
{
    if (pAllocator)
        return pAllocator->Realloc(pAllocator, p, size);
    return KTMEM_DefaultRealloc2(p, size, 1, 0);
}

void KT_AllocatorFree(_IKT_Allocator *pAllocator, void *p)
{
    if (!p)
        return;
    if (pAllocator)
        pAllocator->Free(pAllocator, p);
    else
        KTMEM_DefaultFree(p, 0);
}

void *CKT_Object::operator new(size_t size) noexcept
{
    return KTMEM_DefaultAlloc(size, 0);
}

void *CKT_Object::operator new(size_t size, const char *file, int line) noexcept
{
    return KTMEM_DefaultAllocDebug(size, 0, file, line);
}

void *CKT_Object::operator new[](size_t size) noexcept
{
    return KTMEM_DefaultAlloc(size, 0);
}

void *CKT_Object::operator new[](size_t size, const char *file, int line) noexcept
{
    return KTMEM_DefaultAllocDebug(size, 0, file, line);
}

void CKT_Object::operator delete(void *p) noexcept
{
    KTMEM_DefaultFree(p, 0);
}

void CKT_Object::operator delete(void *p, const char *, int) noexcept
{
    KTMEM_DefaultFree(p, 0);
}

void CKT_Object::operator delete[](void *p) noexcept
{
    KTMEM_DefaultFree(p, 0);
}

void CKT_Object::operator delete[](void *p, const char *, int) noexcept
{
    KTMEM_DefaultFree(p, 0);
}

void *CKT_AllocObject::operator new(size_t size, _IKT_Allocator *pAllocator) noexcept
{
    void *p = pAllocator ? pAllocator->Alloc(pAllocator, size) : KTMEM_DefaultAlloc(size, 0);
    if (p)
        *static_cast<_IKT_Allocator **>(p) = pAllocator;
    return p;
}

void *CKT_AllocObject::operator new(size_t size, _IKT_Allocator *pAllocator, const char *file,
                                    int line) noexcept
{
    void *p = pAllocator ? pAllocator->AllocDebug(pAllocator, size, file, line)
                         : KTMEM_DefaultAllocDebug(size, 0, file, line);
    if (p)
        *static_cast<_IKT_Allocator **>(p) = pAllocator;
    return p;
}

void CKT_AllocObject::operator delete(void *p) noexcept
{
    if (!p)
        return;
    KT_AllocatorFree(*static_cast<_IKT_Allocator **>(p), p);
}

void CKT_AllocObject::operator delete(void *p, _IKT_Allocator *pAllocator) noexcept
{
    KT_AllocatorFree(pAllocator, p);
}

void CKT_AllocObject::operator delete(void *p, _IKT_Allocator *pAllocator, const char *,
                                      int) noexcept
{
    KT_AllocatorFree(pAllocator, p);
}

void *operator new(size_t size, _IKT_Allocator *pAllocator) noexcept
{
    return KT_AllocatorAlloc(pAllocator, size);
}

void operator delete(void *p, _IKT_Allocator *pAllocator) noexcept
{
    KT_AllocatorFree(pAllocator, p);
}
