// GlobalAlloc, GlobalLock, GlobalUnlock, GlobalFree: memory blocks on the C
// heap.
//
// As on Windows, a GMEM_FIXED handle is the block's address and a
// GMEM_MOVEABLE handle is an opaque value that GlobalLock turns into the
// address, counting locks. Blocks never move here, so a moveable block's
// address is the same at every lock. Live blocks are kept in a list so that a
// stale or foreign handle fails with ERROR_INVALID_HANDLE instead of
// corrupting the heap (Windows detects most such handles too).
//
// A moveable block of 0 bytes is, as on Windows, a discarded block: a valid
// handle that GlobalLock refuses (NULL, ERROR_DISCARDED) and GlobalFree
// releases. A fixed block of 0 bytes has a unique address.
//
// Zero-filled blocks come from calloc, so a large block's pages are not
// touched until used.
#include "fault.h"
#include "os.h"

#include <pthread.h>
#include <stdlib.h>

struct Block {
    Block *next;
    Block *prev;
    void *data; // NULL for a discarded block
    UINT flags;
    UINT locks;
};

static Block *blocks;
static pthread_mutex_t blocks_lock = PTHREAD_MUTEX_INITIALIZER;

static HGLOBAL HandleOf(Block *block)
{
    return (block->flags & GMEM_MOVEABLE) ? (HGLOBAL)block : (HGLOBAL)block->data;
}

// The live block a handle names, or NULL. Call with blocks_lock held.
static Block *FindBlock(HGLOBAL hMem)
{
    Block *block;

    if (hMem == NULL)
        return NULL;
    for (block = blocks; block != NULL; block = block->next)
        if (HandleOf(block) == hMem)
            return block;
    return NULL;
}

static void LinkBlock(Block *block)
{
    block->prev = NULL;
    block->next = blocks;
    if (blocks != NULL)
        blocks->prev = block;
    blocks = block;
}

static void UnlinkBlock(Block *block)
{
    if (block->prev != NULL)
        block->prev->next = block->next;
    else
        blocks = block->next;
    if (block->next != NULL)
        block->next->prev = block->prev;
}

// The block's storage: a fixed block always has an address, even at 0 bytes.
static void *TakeStorage(UINT uFlags, SIZE_T dwBytes)
{
    SIZE_T bytes = dwBytes;

    if (bytes == 0)
        bytes = 1;
    return (uFlags & GMEM_ZEROINIT) ? calloc(1, bytes) : malloc(bytes);
}

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes)
{
    Block *block;
    BOOL discarded = (uFlags & GMEM_MOVEABLE) && dwBytes == 0;
    HGLOBAL handle;

    if (FaultPoint(ERROR_NOT_ENOUGH_MEMORY))
        return NULL;
    block = (Block *)malloc(sizeof(Block));
    if (block == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    block->data = discarded ? NULL : TakeStorage(uFlags, dwBytes);
    if (!discarded && block->data == NULL) {
        free(block);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    block->flags = uFlags & (GMEM_MOVEABLE | GMEM_ZEROINIT);
    block->locks = 0;
    pthread_mutex_lock(&blocks_lock);
    LinkBlock(block);
    handle = HandleOf(block);
    pthread_mutex_unlock(&blocks_lock);
    ResourceTaken(RESOURCE_BLOCK);
    return handle;
}

LPVOID GlobalLock(HGLOBAL hMem)
{
    Block *block;
    LPVOID data = NULL;

    // A valid handle fails to lock only when its block was discarded.
    if (FaultPoint(ERROR_DISCARDED))
        return NULL;
    pthread_mutex_lock(&blocks_lock);
    block = FindBlock(hMem);
    if (block == NULL)
        SetLastError(ERROR_INVALID_HANDLE);
    else if (block->data == NULL)
        SetLastError(ERROR_DISCARDED);
    else {
        if (block->flags & GMEM_MOVEABLE)
            block->locks++;
        data = block->data;
    }
    pthread_mutex_unlock(&blocks_lock);
    return data;
}

// TRUE while a moveable block stays locked; FALSE with ERROR_SUCCESS when its
// last lock goes, FALSE with an error when it was not locked or the handle is
// bad. Fixed blocks are never locked and always give TRUE, as on Windows.
BOOL GlobalUnlock(HGLOBAL hMem)
{
    Block *block;
    BOOL stillLocked = FALSE;

    pthread_mutex_lock(&blocks_lock);
    block = FindBlock(hMem);
    if (block == NULL)
        SetLastError(ERROR_INVALID_HANDLE);
    else if (!(block->flags & GMEM_MOVEABLE))
        stillLocked = TRUE;
    else if (block->locks == 0)
        SetLastError(ERROR_NOT_LOCKED);
    else {
        block->locks--;
        stillLocked = block->locks > 0;
        if (!stillLocked)
            SetLastError(ERROR_SUCCESS);
    }
    pthread_mutex_unlock(&blocks_lock);
    return stillLocked;
}

// NULL on success (and for a NULL handle); the handle itself when it names no
// live block.
HGLOBAL GlobalFree(HGLOBAL hMem)
{
    Block *block;

    if (hMem == NULL)
        return NULL;
    pthread_mutex_lock(&blocks_lock);
    block = FindBlock(hMem);
    if (block != NULL)
        UnlinkBlock(block);
    pthread_mutex_unlock(&blocks_lock);
    if (block == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    free(block->data);
    free(block);
    ResourceReleased(RESOURCE_BLOCK);
    return NULL;
}
