// The bulk build that every index family shares: all keys of a table sorted in
// memory-sized runs through a temporary file, merged, and written bottom-up as a
// tree of full pages, without a single insertion.
//
//   table records --KeyMaker--> sort items --runs--> STKSn.TMP --merge--> ItemSink
//                                                                       (TreeWriter
//                                                                        + PageCodec)
//
// Sort item (item_size = key_size + 4 bytes)
//   off       size      field
//     0       key_size  key in its sort form: unsigned byte order is index order
//     key_size 4        record number, most significant byte first
// Sorting whole items as unsigned bytes therefore orders equal keys by record
// number, and the first item of each key is the one with the lowest record number
// (the one a unique index keeps).
//
// The sort buffer holds R = budget / item_size items; the N = ceil(records / R)
// runs are merged with R / N items of buffer each. The budget is all the keys when
// they fit the memory limit (32 MiB), at least 65000 bytes, and is raised until
// R >= N, so that every run gets at least one item of buffer whatever the table
// size (about sqrt(records) * item_size bytes).
#pragma once

#include <cstdint>

#include "core/bytes.hpp"
#include "core/memory.hpp"
#include "table/table.hpp"

namespace xbdb::index::bulk {

constexpr int32_t kRecnoSize = 4;

struct ItemShape {
    int32_t key_size = 0;
    bool unique = false;

    int32_t item_size() const { return key_size + kRecnoSize; }
    uint32_t recno(const char* item) const { return be32(item + key_size); }
};

// ---- the table side (bulk_table.cpp) ---------------------------------------------

// Makes the sort key (key_size bytes) of one record; record points at the record's
// bytes, deletion byte first.
class KeyMaker {
public:
    virtual int32_t make(const char* record, int32_t recno, char* key) = 0;

protected:
    ~KeyMaker() = default;
};

// A table prepared for a build, and put back as it was by end() (or the
// destructor): a shared table is locked as a whole for the build (its record
// count read again under the lock), an unbuffered one gets a record cache for
// the duration, and the record buffer and current record come back unchanged.
class TableForBuild {
public:
    TableForBuild(int32_t handle, table::TablePacket& t) : handle_(handle), t_(t) {}
    ~TableForBuild() { end(); }
    TableForBuild(const TableForBuild&) = delete;
    TableForBuild& operator=(const TableForBuild&) = delete;

    int32_t begin();
    // Puts the table back; failures here are logged and do not change a build's result.
    void end();

    int32_t handle() const { return handle_; }
    table::TablePacket& packet() { return t_; }
    int32_t records() const { return static_cast<int32_t>(t_.record_count()); }
    int32_t record_length() const { return static_cast<int32_t>(t_.record_length()); }
    // Asks for a record cache of records records (a refusal is not an error).
    void set_cache_records(int32_t records);
    // The bytes of record n (1..records()), read through the cache a block at a time.
    int32_t record(int32_t n, const char*& bytes);
    // Makes record n the table's current record in its record buffer, for keys that
    // are evaluated from the current record.
    void make_current(const char* bytes, int32_t n);

private:
    int32_t handle_;
    table::TablePacket& t_;
    HostBlock saved_record_;
    int32_t saved_current_ = 0;
    int32_t saved_cache_records_ = 0;
    bool begun_ = false;
    bool gave_cache_ = false;
    bool resized_cache_ = false;
};

// ---- the sort (key_runs.cpp, run_merge.cpp) ---------------------------------------

// Receives the merged items in index order, each key once for a unique index.
class ItemSink {
public:
    virtual int32_t put(const char* item) = 0;

protected:
    ~ItemSink() = default;
};

// Keys every record of the table, sorts them in runs through the temporary file
// "STKSn.TMP" (first free n) beside index_name, and merges them into sink. The
// temporary file is gone on return, whatever the result.
int32_t sort_keys(TableForBuild& table, KeyMaker& keys, const ItemShape& shape,
                  const char* index_name, ItemSink& sink);

// The temporary file name for index_name: its directory part (up to and including
// the last ':', '\\' or '/') and "STKSn.TMP" with the first n for which no file
// exists. Returns 0 or the logged code.
int32_t temporary_name(const char* index_name, HostBlock& name);

// How the sort uses its memory.
struct SortPlan {
    int64_t budget = 0;         // bytes of the sort buffer
    int32_t per_run = 0;        // R: items a run holds
    int32_t runs = 0;           // N
    int32_t cache_records = 0;  // the table's record cache during the sort
};

// The plan for records items of item_size bytes and a table of record_length,
// before memory is asked for: runs never outnumber per_run.
SortPlan plan_sort(int64_t records, int32_t item_size, int32_t record_length);
// The most bytes of keys sorted in memory at once (0 restores the default); tests
// lower it to make builds go through many runs.
void set_sort_memory_limit(int64_t bytes);
// The plan that a budget gives; false when its runs would outnumber the items a
// run holds.
bool apply_budget(SortPlan& plan, int64_t records, int32_t item_size, int64_t budget);

// ---- the tree writer (tree_writer.cpp) ---------------------------------------------

// The family's page format as the bottom-up writer needs it. Pages are addressed by
// their byte offset in the file; the codec turns offsets into what its pages store.
// Entries are (item, child): the child holds the keys below the entry's key; every
// page also has a last child after its last entry (none in a leaf).
class PageCodec {
public:
    virtual int32_t page_size() const = 0;
    // B+ trees (every key in a leaf): a full leaf sends a copy of its last key up and
    // the new item starts the next leaf. B-trees: the new item itself goes up.
    virtual bool copies_leaf_keys() const = 0;
    // An empty page at level (0 = leaves) that will be written at offset.
    virtual void start(char* page, int level, int64_t offset) = 0;
    virtual bool has_room(const char* page, int level, const char* item) const = 0;
    virtual void append(char* page, int level, const char* item, int64_t child) = 0;
    // Completes a page before it is written: its last child (0 for a leaf).
    virtual void close(char* page, int level, int64_t last_child) = 0;
    virtual int32_t count(const char* page) const = 0;
    // The last entry's item and child, and the page's last child.
    virtual void last_entry(const char* page, char* item, int64_t& child) const = 0;
    virtual int64_t last_child(const char* page) const = 0;
    // Removes the last entry; its child becomes the page's last child.
    virtual void drop_last(char* page) = 0;
    // Replaces the item of the last entry, keeping its child.
    virtual void replace_last(char* page, const char* item) = 0;

protected:
    ~PageCodec() = default;
};

// Where the pages go: the first page of the leaf level takes first (the root of the
// new file), every later page the end of the file, which grows by a page each time.
struct PageSpace {
    int fd = -1;
    int64_t first = 0;
    int64_t end = 0;
};

// Writes the tree bottom-up from items that arrive in order. Every page but the
// last of each level is full; finish() settles the last pages so that each holds
// at least one key, with all leaves at one depth, and names the root.
class TreeWriter final : public ItemSink {
public:
    TreeWriter(PageCodec& codec, PageSpace& space, const ItemShape& shape)
        : codec_(codec), space_(space), shape_(shape) {}

    int32_t put(const char* item) override;
    // Writes the last page of every level; root receives the top page (first when
    // no item arrived).
    int32_t finish(int64_t& root);

private:
    struct Level {
        int64_t offset = 0;
        HostBlock page;
    };
    static constexpr int kMaxLevels = 40;

    int32_t begin_page(int level, int64_t offset);
    int32_t push(int level, const char* item, int64_t child);
    int32_t close_full(int level, int64_t last_child);
    int32_t write(int64_t offset, const char* page);
    int32_t borrow(int level);
    int64_t allocate();

    PageCodec& codec_;
    PageSpace& space_;
    ItemShape shape_;
    Level levels_[kMaxLevels];
    int top_ = -1;  // highest level with a page
    HostBlock scratch_;
};

}  // namespace xbdb::index::bulk
