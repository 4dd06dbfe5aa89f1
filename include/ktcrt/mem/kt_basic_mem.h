// Memory manager of the base library.
//
// Every allocation of the library goes through one replaceable manager. A manager allocates from
// a system layer (by default the C library's malloc/realloc/free), reports exhaustion to an
// optional out-of-memory handler, lets an optional debugger record watch every request, and
// exposes itself as an _IKT_Allocator record so that containers and trees can be pointed at any
// allocator. Allocation flags: bit 0 set means a failed request returns null without calling the
// out-of-memory handler. The manager adds no locking of its own.
#ifndef KTCRT_KT_BASIC_MEM_H
#define KTCRT_KT_BASIC_MEM_H

#include "kt_basic_def.h"

struct _KTMEM_SystemMgr;
struct CKT_MemoryMgr;
typedef CKT_MemoryMgr _KTMEM_ZandroMgr;

// Flag bit 0: exhaustion is not reported, the request just fails with null.
#define KTMEM_NONLEAVE 1

// The layer a manager allocates from. Each entry receives the record itself first.
struct _KTMEM_SystemMgr
{
    void *(*Alloc)(_KTMEM_SystemMgr *pMgr, size_t size, int flags);
    void *(*AllocDebug)(_KTMEM_SystemMgr *pMgr, size_t size, int flags, const char *file, int line);
    void *(*Realloc)(_KTMEM_SystemMgr *pMgr, void *p, size_t size, int flags);
    void *(*ReallocDebug)(_KTMEM_SystemMgr *pMgr, void *p, size_t size, int flags, const char *file,
                          int line);
    // Movable-handle locking for layers that hand out handles instead of addresses; the
    // manager never calls them and the C-library layer leaves them null.
    void *(*Lock)(_KTMEM_SystemMgr *pMgr, void *handle);
    void (*Unlock)(_KTMEM_SystemMgr *pMgr, void *handle);
    void (*Free)(_KTMEM_SystemMgr *pMgr, void *p, int flags);
    int (*Purge)(_KTMEM_SystemMgr *pMgr);
    int (*CollectAll)(_KTMEM_SystemMgr *pMgr);
    void *user;
};

// The C-library layer: malloc, realloc and free; file and line are ignored.
extern _KTMEM_SystemMgr g_CRTSystemMgr;

// Watches a manager. The first five entries are called after every allocation request (with the
// new block, or null when it failed) and before every free. For the reallocation entries the
// old block is passed as well, so that a tracker can forget it.
struct _KTMEM_Debugger
{
    void (*OnAlloc)(_KTMEM_ZandroMgr *pMgr, void *p, size_t size, int flags);
    void (*OnAllocDebug)(_KTMEM_ZandroMgr *pMgr, void *p, size_t size, int flags, const char *file,
                         int line);
    void (*OnRealloc)(_KTMEM_ZandroMgr *pMgr, void *pOld, void *p, size_t size, int flags);
    void (*OnReallocDebug)(_KTMEM_ZandroMgr *pMgr, void *pOld, void *p, size_t size, int flags,
                           const char *file, int line);
    void (*OnFree)(_KTMEM_ZandroMgr *pMgr, void *p, int flags);
    // Receives the tags written with KTMEM_OutputDebugTag; may be null.
    void (*OnTag)(_KTMEM_ZandroMgr *pMgr, const char *tag);
    void *user;
};

// A generic allocator. Containers, buffers, allocator-bound strings and XML trees hold a pointer
// to one; null there means the default manager. Each entry receives the record itself first.
struct _IKT_Allocator
{
    void *(*AllocDebug)(_IKT_Allocator *pAllocator, size_t size, const char *file, int line);
    void *(*Alloc)(_IKT_Allocator *pAllocator, size_t size);
    void *(*ReallocDebug)(_IKT_Allocator *pAllocator, void *p, size_t size, const char *file,
                          int line);
    void *(*Realloc)(_IKT_Allocator *pAllocator, void *p, size_t size);
    void (*Free)(_IKT_Allocator *pAllocator, void *p);
};

// A purgeable cache registered with a manager's cache manager. Purge drops what can be
// rebuilt and returns the bytes it gave back; Release is called when the manager is destroyed
// (the cache is unregistered by then). The cache record belongs to whoever registered it.
struct _KTMEM_Cache
{
    int (*Purge)(_KTMEM_Cache *pCache);
    void (*Release)(_KTMEM_Cache *pCache);
    _KTMEM_Cache *m_pNext; // managed by the cache manager
};

// Holds the caches registered with one manager, as a singly linked list.
struct _KTMEM_CacheMgr
{
    _KTMEM_Cache *m_pFirst;
};

typedef void (*KTMEM_OOMHandler)(_KTMEM_ZandroMgr *pMgr, void *param);

// The allocator record embedded in a manager, followed by the way back to that manager.
struct _KTMEM_MgrAllocator
{
    _IKT_Allocator m_Allocator;
    _KTMEM_ZandroMgr *m_pMgr;
};

struct CKT_MemoryMgr
{
    _KTMEM_SystemMgr *m_pSystemMgr;
    _KTMEM_Debugger *m_pDebugger;
    KTMEM_OOMHandler m_pOOMHandler;
    void *m_pOOMHandlerParam;
    _KTMEM_MgrAllocator m_Allocator; // entries route here with flags 0
    _KTMEM_CacheMgr *m_pCacheMgr;    // null until a cache is registered
    void *m_pReserved;               // not used; kept zero
    void *m_pExtBlock;               // optional block of the owner's, freed with free() at destroy
    int m_bOwned;                    // 1 when made by KTMEM_CreateZandroMgr
};

extern CKT_MemoryMgr g_DefZandroMgr;
extern _KTMEM_ZandroMgr *g_pDefZandroMgr;

// Allocation through a manager: the debugger is told the outcome; on failure the out-of-memory
// handler runs unless flag bit 0 is set. Returns the block or null.
void *KTMEM_Alloc(_KTMEM_ZandroMgr *pMgr, size_t size, int flags);
void *KTMEM_AllocDebug(_KTMEM_ZandroMgr *pMgr, size_t size, int flags, const char *file, int line);
void *KTMEM_Realloc(_KTMEM_ZandroMgr *pMgr, void *p, size_t size, int flags);
void *KTMEM_ReallocDebug(_KTMEM_ZandroMgr *pMgr, void *p, size_t size, int flags, const char *file,
                         int line);
// Nothing for null; otherwise the debugger is told first, then the system layer frees.
void KTMEM_Free(_KTMEM_ZandroMgr *pMgr, void *p, int flags);

// The same through the current default manager.
void *KTMEM_DefaultAlloc(size_t size, int flags);
void *KTMEM_DefaultAllocDebug(size_t size, int flags, const char *file, int line);
// Checked allocation of size * unit bytes: a zero size or unit fails quietly; a product above
// 0x7FFFFFFF is reported as exhaustion (unless flag bit 0) and fails.
void *KTMEM_DefaultAlloc2(size_t size, size_t unit, int flags);
void *KTMEM_DefaultAllocDebug2(size_t size, size_t unit, int flags, const char *file, int line);
// A null block means allocate; the forms ending in 2 check the size as KTMEM_DefaultAlloc2.
void *KTMEM_DefaultRealloc(void *p, size_t size, int flags);
void *KTMEM_DefaultReallocDebug(void *p, size_t size, int flags, const char *file, int line);
void *KTMEM_DefaultRealloc2(void *p, size_t size, size_t unit, int flags);
void *KTMEM_DefaultReallocDebug2(void *p, size_t size, size_t unit, int flags, const char *file,
                                 int line);
void KTMEM_DefaultFree(void *p, int flags);

// Calls the manager's out-of-memory handler, if one is set.
void KTMEM_ReportOOM(_KTMEM_ZandroMgr *pMgr);
void KTMEM_SetOOMHandler(_KTMEM_ZandroMgr *pMgr, KTMEM_OOMHandler handler, void *param);
// Installs (or, with null, removes) the debugger record; returns the previous one.
_KTMEM_Debugger *KTMEM_UseDebugger(_KTMEM_ZandroMgr *pMgr, _KTMEM_Debugger *pDebugger);
// Hands a tag to the debugger's OnTag entry, when there is one.
void KTMEM_OutputDebugTag(_KTMEM_ZandroMgr *pMgr, const char *tag);

// Purges the registered caches (PurgeMgr only), then forwards to the system layer's Purge or
// CollectAll; the layer's result, 0 when the entry is null.
int KTMEM_PurgeMgr(_KTMEM_ZandroMgr *pMgr);
int KTMEM_CollectAll(_KTMEM_ZandroMgr *pMgr);

// Registers a cache with the manager (the cache manager is made on first use); false when the
// cache manager cannot be allocated. Unregistering an unknown cache does nothing.
bool KTMEM_RegisterCache(_KTMEM_ZandroMgr *pMgr, _KTMEM_Cache *pCache);
void KTMEM_UnregisterCache(_KTMEM_ZandroMgr *pMgr, _KTMEM_Cache *pCache);

void KTMEM_SetDefaultMgr(_KTMEM_ZandroMgr *pMgr);
_KTMEM_ZandroMgr *KTMEM_GetDefaultMgr();
// The allocator record of the current default manager.
_IKT_Allocator *KTMEM_GetDefAllocator();

// A new manager on the given layer, allocated through that layer; null for a null layer or on
// failure. Destroy releases its caches, calls the layer's CollectAll, frees the record when it
// owns it and frees the owner's extra block with free().
_KTMEM_ZandroMgr *KTMEM_CreateZandroMgr(_KTMEM_SystemMgr *pSystemMgr);
void KTMEM_DestroyZandroMgr(_KTMEM_ZandroMgr *pMgr);

// Allocation through an allocator record, the default manager when it is null.
void *KT_AllocatorAlloc(_IKT_Allocator *pAllocator, size_t size);
void *KT_AllocatorRealloc(_IKT_Allocator *pAllocator, void *p, size_t size);
void KT_AllocatorFree(_IKT_Allocator *pAllocator, void *p);

// Objects allocated from the default manager.
class CKT_Object
{
public:
    void *operator new(size_t size) noexcept;
    void *operator new(size_t size, const char *file, int line) noexcept;
    void *operator new[](size_t size) noexcept;
    void *operator new[](size_t size, const char *file, int line) noexcept;
    void *operator new(size_t, void *place) noexcept { return place; }
    void operator delete(void *p) noexcept;
    void operator delete(void *p, const char *file, int line) noexcept;
    void operator delete[](void *p) noexcept;
    void operator delete[](void *p, const char *file, int line) noexcept;
    void operator delete(void *, void *) noexcept {}
};

// Objects that remember the allocator they came from in their first word, so that a plain
// delete returns them there. Requires: derived classes stay non-polymorphic (a vtable pointer
// would take the first word) and such objects are only created with the allocator forms of new.
// Derived constructors should pass the same allocator on to CKT_AllocObject(pAllocator): the
// compiler may treat what operator new stored as dead once construction begins.
class CKT_AllocObject
{
public:
    void *operator new(size_t size, _IKT_Allocator *pAllocator) noexcept;
    void *operator new(size_t size, _IKT_Allocator *pAllocator, const char *file,
                       int line) noexcept;
    void *operator new(size_t, void *place) noexcept { return place; }
    void operator delete(void *p) noexcept;
    void operator delete(void *p, _IKT_Allocator *pAllocator) noexcept;
    void operator delete(void *p, _IKT_Allocator *pAllocator, const char *file, int line) noexcept;
    void operator delete(void *, void *) noexcept {}

    _IKT_Allocator *GetAllocator() const { return m_pAllocator; }

protected:
    explicit CKT_AllocObject(_IKT_Allocator *pAllocator) : m_pAllocator(pAllocator) {}
    // Leaves the word operator new wrote; see above for why the other form is preferred.
    CKT_AllocObject() {}
    _IKT_Allocator *m_pAllocator;
};

// Plain blocks from an allocator (KTMEM_DefaultAlloc2(size, 1, 0) when it is null); release
// them with KT_AllocatorFree on the same allocator.
void *operator new(size_t size, _IKT_Allocator *pAllocator) noexcept;
void operator delete(void *p, _IKT_Allocator *pAllocator) noexcept;

#endif // KTCRT_KT_BASIC_MEM_H
