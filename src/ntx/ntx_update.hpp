// Insertion and deletion of NTX keys, and the pages they take and give back.
#pragma once

#include <cstdint>

#include "ntx/ntx_packet.hpp"

namespace xbdb::ntx {

// A page for a split or a new root, set up empty, valid and dirty: the head of the
// free-page chain, else a new page at the end of the file (rounded up to a whole
// page, so that a file of odd length never gets a page it cannot read back).
int32_t new_page(NtxPacket& x, index::PageRef& out);
// Puts a page on the free-page chain.
int32_t free_page(NtxPacket& x, index::PageRef& page);

// 0 added, 211 when the key (with its record number, unless the index is unique)
// is already there.
int32_t add_key(NtxPacket& x, const char* key, uint32_t recno);
// 0 deleted; 202, 203 or 204 when there was nothing to delete.
int32_t delete_key(NtxPacket& x, const char* key, uint32_t recno);

}  // namespace xbdb::ntx
