// entries.cpp: form entries and their texts, carved from large blocks that
// teardown releases at once.
//
// A form of millions of tiny fields would otherwise cost three heap blocks
// per field, each of at least 32 bytes, and a page fault for every few
// hundred of them.  Here an entry and its two texts are one piece of a block:
// 32 bytes for an empty field.  Entries of 16 KiB or more get a block of
// their own, sized exactly, so a long value costs what it holds.
#include <stdint.h>
#include <string.h>

#include "internal.h"

extern "C" {

// The size of the first shared block; the size from which shared blocks are
// made of whole huge pages; the piece size from which an entry gets a block
// of its own.
#define CGI_ENTRY_FIRST_BLOCK (4 * 1024)
#define CGI_ENTRY_SMALL_BLOCKS (64 * 1024)
#define CGI_ENTRY_ALONE (16 * 1024)

// The largest shared block; beyond it the blocks stop doubling, so that no
// single request for memory is much larger than what the form needs.
#define CGI_ENTRY_BLOCK_MAX (64 * 1024 * 1024)

// One block; the pieces follow the header.
typedef struct cgiEntryBlock {
  struct cgiEntryBlock *next;  // the block allocated before this one
  size_t size;                 // bytes after the header
  size_t used;                 // bytes of them carved off
} cgiEntryBlock;

static cgiEntryBlock *cgiEntryBlocks = nullptr;  // every block, the newest first
static cgiEntryBlock *cgiEntryShared = nullptr;  // the block small pieces come from
static size_t cgiEntrySharedTotal = 0;           // bytes in all shared blocks

// size rounded up to the alignment of an entry.
static size_t cgiEntryAlign(size_t size) {
  const size_t align = alignof(cgiFormEntry);
  return (size + align - 1) & ~(align - 1);
}

// Allocates a block with room for size bytes and puts it at the head of the
// block list; null when memory runs out.
static cgiEntryBlock *cgiEntryBlockNew(size_t size) {
  cgiEntryBlock *b = static_cast<cgiEntryBlock *>(cgiMalloc(sizeof(cgiEntryBlock) + size));
  if (!b) return nullptr;
  b->next = cgiEntryBlocks;
  b->size = size;
  b->used = 0;
  cgiEntryBlocks = b;
  return b;
}

// The room of the next shared block, for a piece of size bytes: as much as
// all shared blocks so far, at least 4 KiB, so that a small request touches
// little memory; from 64 KiB on in whole huge pages (at most
// CGI_ENTRY_BLOCK_MAX), so that each 2 MiB costs one page fault.
static size_t cgiEntrySharedRoom(size_t size) {
  size_t block =
      cgiEntrySharedTotal > CGI_ENTRY_FIRST_BLOCK ? cgiEntrySharedTotal : CGI_ENTRY_FIRST_BLOCK;
  if (block < sizeof(cgiEntryBlock) + size) block = sizeof(cgiEntryBlock) + size;
  if (block >= CGI_ENTRY_SMALL_BLOCKS) {
    if (block > CGI_ENTRY_BLOCK_MAX) block = CGI_ENTRY_BLOCK_MAX;
    block = (block + CGI_HUGE_PAGE - 1) & ~static_cast<size_t>(CGI_HUGE_PAGE - 1);
  }
  return block - sizeof(cgiEntryBlock);
}

// Carves size bytes (a multiple of the entry alignment, below
// CGI_ENTRY_ALONE) from the shared block, allocating a new one when it has
// not that much left.
static void *cgiEntryCarve(size_t size) {
  cgiEntryBlock *b = cgiEntryShared;
  if (!b || b->size - b->used < size) {
    b = cgiEntryBlockNew(cgiEntrySharedRoom(size));
    if (!b) return nullptr;
    cgiEntryShared = b;
    cgiEntrySharedTotal += sizeof(cgiEntryBlock) + b->size;
  }
  char *piece = reinterpret_cast<char *>(b + 1) + b->used;
  b->used += size;
  return piece;
}

// Creates an unlinked entry whose name and value have room for nameRoom and
// valueRoom bytes plus a NUL each (both start as the empty text); null when
// memory runs out.  The caller fills the texts and links the entry; the
// entry's memory is released by teardown (cgiFreeResources) whether or not
// it was ever linked, and never by anything else.
cgiFormEntry *cgiFormEntryNew(size_t nameRoom, size_t valueRoom) {
  if (nameRoom > SIZE_MAX / 4 || valueRoom > SIZE_MAX / 4) return nullptr;
  size_t size = cgiEntryAlign(sizeof(cgiFormEntry) + nameRoom + 1 + valueRoom + 1);
  void *piece;
  if (size >= CGI_ENTRY_ALONE) {
    cgiEntryBlock *b = cgiEntryBlockNew(size);
    piece = b ? b + 1 : nullptr;
  } else {
    piece = cgiEntryCarve(size);
  }
  if (!piece) return nullptr;
  cgiFormEntry *e = static_cast<cgiFormEntry *>(piece);
  e->name = reinterpret_cast<char *>(e + 1);
  e->value = e->name + nameRoom + 1;
  e->name[0] = e->value[0] = '\0';
  e->next = nullptr;
  return e;
}

// Releases every block, and with them every entry made since the last call.
void cgiFormEntriesRelease(void) {
  while (cgiEntryBlocks) {
    cgiEntryBlock *next = cgiEntryBlocks->next;
    free(cgiEntryBlocks);
    cgiEntryBlocks = next;
  }
  cgiEntryShared = nullptr;
  cgiEntrySharedTotal = 0;
}
}
