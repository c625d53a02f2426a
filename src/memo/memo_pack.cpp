// Packing a memo file: a new file that keeps only the memos that the table's live
// records use, put in the old one's place, with the old file kept as a backup.
//
// The pack works in two passes so that every record's memo reference stays readable
// whatever fails:
//   1. every live memo is copied into a temporary file and the (record, field, old
//      block, new block) of each reference is noted; no record is touched, and a
//      failure only deletes the temporary file;
//   2. the new numbers are written (the references of deleted records cleared), the
//      table is flushed, and the files are swapped: the old one becomes the backup
//      and the temporary one takes its name. A failure here writes the old numbers
//      back and puts the old file in place again.
// A shared table stays locked from before the first pass until the reopened memo
// file is in place, so no other process writes into the old file meanwhile.
#include <algorithm>
#include <cstring>

#include "memo/dbt_format.hpp"
#include "memo/fpt_format.hpp"
#include "memo/memo_names.hpp"
#include "os/file_io.hpp"
#include "table/table.hpp"

namespace xbdb::memo {

namespace {

using table::TablePacket;

constexpr char kDeletedMark = '*';
constexpr int32_t kBinaryReferenceDialect = 10;  // memo references as 4-byte numbers

// What a pack needs of a memo family.
struct Family {
    Kind kind;
    const char* extension;
    int32_t (*create_like)(const char* name, Packet& old);
    int32_t (*open)(int32_t* handle, const char* name, int32_t mode);
    int32_t (*close)(int32_t handle);
    int32_t (*dialect)(const Packet& old);
    // Copies the memo at block of from into to; 0 in *copied for an empty memo.
    int32_t (*copy)(Packet& from, Packet& to, int32_t block, int32_t* copied);
};

struct Reference {
    int32_t record;
    int16_t field;
    int32_t old_block;
    int32_t new_block;  // 0: cleared
};

// A growing list of references from the library's allocator.
class References {
public:
    int32_t add(Reference r) {
        if (count_ == capacity_) {
            const std::size_t wanted = capacity_ ? capacity_ * 2 : 64;
            void* block = list_.release();
            if (!reallocate(&block, wanted * sizeof(Reference))) {
                list_.reset(static_cast<Reference*>(block));
                return fail(DB_ERR_MEMORY);
            }
            list_.reset(static_cast<Reference*>(block));
            capacity_ = wanted;
        }
        list_[count_++] = r;
        return 0;
    }
    std::span<const Reference> all() const { return {list_.get(), count_}; }

private:
    HostPtr<Reference[]> list_;
    std::size_t count_ = 0;
    std::size_t capacity_ = 0;
};

// The table's record buffer is lent a private one for the pack, so the caller's
// record stays as it was.
class OwnRecordBuffer {
public:
    explicit OwnRecordBuffer(TablePacket& t) : t_(t), saved_(t.record) {}
    ~OwnRecordBuffer() { t_.record = saved_; }
    OwnRecordBuffer(const OwnRecordBuffer&) = delete;
    OwnRecordBuffer& operator=(const OwnRecordBuffer&) = delete;
    int32_t lend() {
        buffer_ = allocate_block(t_.record_length() + 1);
        if (!buffer_) return fail(DB_ERR_MEMORY);
        t_.record = buffer_.get();
        return 0;
    }

private:
    TablePacket& t_;
    char* saved_;
    HostBlock buffer_;
};

// The whole-table lock of a shared table, held for the pack; a lock the caller
// already held stays.
class TableLock {
public:
    explicit TableLock(TablePacket& t) : t_(t) {}
    ~TableLock() {
        if (!took_) return;
        const int32_t saved = DBerrno;
        table::_DBUnLockAll(t_);
        DBerrno = saved;
    }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;
    int32_t take() {
        if (!t_.shared() || t_.lock_state == DB_LOCKSTATE_FILE) return 0;
        if (int32_t code = table::_DBLockFile(t_); code < 0) return fail(code);
        took_ = true;
        return 0;
    }

private:
    TablePacket& t_;
    bool took_ = false;
};

// ---- the first pass ----------------------------------------------------------------------

int32_t reference_in(TablePacket& t, int16_t field, int32_t* block) {
    *block = 0;
    if (int32_t code = table::_DBGetFieldData(t, block, field, 'M'); code < 0) return fail(code);
    return 0;
}

int32_t note_record(const Family& f, TablePacket& t, Packet& from, Packet& to, int32_t record,
                    References& refs) {
    const bool deleted = t.record[0] == kDeletedMark;
    for (int16_t i = 0; i < t.field_count; ++i) {
        if (t.field(i).type != 'M') continue;
        int32_t block = 0;
        if (int32_t code = reference_in(t, i, &block); code < 0) return fail(code);
        if (block == 0) continue;
        int32_t copied = 0;
        if (!deleted)
            if (int32_t code = f.copy(from, to, block, &copied); code < 0) return fail(code);
        if (deleted || copied != block)
            if (int32_t code = refs.add({record, i, block, copied}); code < 0) return fail(code);
    }
    return 0;
}

int32_t copy_live_memos(const Family& f, TablePacket& t, Packet& from, Packet& to, References& refs) {
    const auto count = static_cast<int32_t>(t.record_count());
    for (int32_t n = 1; n <= count; ++n) {
        if (int32_t code = table::_DBGetRecord(t, t.record, n); code < 0) return fail(code);
        if (int32_t code = note_record(f, t, from, to, n, refs); code < 0) return fail(code);
    }
    return 0;
}

// ---- the second pass ---------------------------------------------------------------------

// A cleared reference is a blank field (or the number 0 where references are binary).
int32_t store_reference(TablePacket& t, int16_t field, int32_t block) {
    if (block == 0 && t.dialect_number() != kBinaryReferenceDialect) {
        const table::Field& d = t.field(field);
        std::memset(t.record + d.offset, ' ', d.length);
        return 0;
    }
    const auto value = static_cast<uint32_t>(block);
    if (int32_t code = table::_DBPutFieldData(t, &value, field, 'M'); code < 0) return fail(code);
    return 0;
}

// Writes the new (or, undoing, the old) numbers record by record and flushes.
int32_t write_references(TablePacket& t, std::span<const Reference> refs, bool undo) {
    for (std::size_t i = 0; i < refs.size();) {
        const int32_t record = refs[i].record;
        if (int32_t code = table::_DBGetRecord(t, t.record, record); code < 0) return fail(code);
        for (; i < refs.size() && refs[i].record == record; ++i) {
            const int32_t block = undo ? refs[i].old_block : refs[i].new_block;
            if (int32_t code = store_reference(t, refs[i].field, block); code < 0) return fail(code);
        }
        if (int32_t code = table::_DBUpdateRecord(t); code < 0) return fail(code);
    }
    if (int32_t code = table::_DBFlushFile(t); code < 0) return fail(code);
    return 0;
}

// Puts the old numbers back after a failed second pass; the pass's code is kept.
int32_t undo_references(TablePacket& t, std::span<const Reference> refs, int32_t code) {
    write_references(t, refs, true);
    DBerrno = code;
    return code;
}

// ---- the swap ------------------------------------------------------------------------------

struct Names {
    HostBlock memo;     // the memo file's own name
    HostBlock backup;
    HostBlock temporary;
};

int32_t make_names(const Family& f, const Packet& old, Names* names) {
    names->memo = allocate_block(std::strlen(old.name) + 1);
    if (!names->memo) return fail(DB_ERR_MEMORY);
    std::strcpy(names->memo.get(), old.name);
    names->backup = backup_name(old.name);
    names->temporary = temporary_name(old.name, f.extension);
    if (!names->backup || !names->temporary) return fail(DB_ERR_MEMORY);
    return 0;
}

// Swaps the files once the references are written: the old file becomes the backup,
// the new one takes its name. A failed rename puts the old file back.
int32_t swap_files(const Names& n) {
    os::_DBosDeleteFile(n.backup.get());
    DBerrno = 0;
    if (int32_t code = os::_DBosRenameFile(n.backup.get(), n.memo.get()); code < 0) return fail(code);
    if (int32_t code = os::_DBosRenameFile(n.memo.get(), n.temporary.get()); code < 0) {
        os::_DBosRenameFile(n.memo.get(), n.backup.get());
        return fail(code);
    }
    return 0;
}

struct PackJob {
    const Family& f;
    TablePacket& t;
    int32_t* memo;
    Names names;
    int32_t reopen_mode = 0;
};

// Pass 1 into the temporary file. The temporary file is closed (and deleted after a
// failure) before this returns.
int32_t first_pass(PackJob& job, Packet& old, References& refs) {
    if (int32_t code = job.f.create_like(job.names.temporary.get(), old); code < 0) return fail(code);
    int32_t target = DB_NO_HANDLE;
    int32_t code = job.f.open(&target, job.names.temporary.get(), job.f.dialect(old));
    if (code >= 0) code = copy_live_memos(job.f, job.t, old, *packet_of(target, job.f.kind), refs);
    if (target != DB_NO_HANDLE) {
        const int32_t closed = job.f.close(target);
        if (code >= 0) code = closed;
    }
    if (code < 0) {
        os::_DBosDeleteFile(job.names.temporary.get());
        DBerrno = code;
        return fail(code);
    }
    return 0;
}

// Pass 2 and the swap; on failure the old numbers and the old file are back and
// open again in *memo.
int32_t second_pass(PackJob& job, std::span<const Reference> refs) {
    int32_t code = write_references(job.t, refs, false);
    if (code >= 0) {
        code = job.f.close(*job.memo);
        *job.memo = DB_NO_HANDLE;
        if (code >= 0) code = swap_files(job.names);
    }
    if (code < 0) {
        undo_references(job.t, refs, code);
        os::_DBosDeleteFile(job.names.temporary.get());
        if (*job.memo == DB_NO_HANDLE) job.f.open(job.memo, job.names.memo.get(), job.reopen_mode);
        DBerrno = code;
        return fail(code);
    }
    if (int32_t reopened = job.f.open(job.memo, job.names.memo.get(), job.reopen_mode); reopened < 0)
        return fail(reopened);
    return 0;
}

int32_t pack(const Family& f, int32_t table_handle, int32_t* memo) {
    TablePacket* t = table::_DBLockDataStruc(table_handle);
    if (!t) return fail(DB_ERR_HANDLE);
    Packet* old = packet_of(*memo, f.kind);
    if (!old) return fail(DB_ERR_HANDLE);
    if (old->read_only() || t->read_only()) return fail(DB_ERR_READ_ONLY);
    TableLock lock(*t);
    if (int32_t code = lock.take(); code < 0) return fail(code);
    PackJob job{f, *t, memo, {}, f.dialect(*old) | mode_from_flags(*old)};
    if (int32_t code = make_names(f, *old, &job.names); code < 0) return fail(code);
    OwnRecordBuffer buffer(*t);
    if (int32_t code = buffer.lend(); code < 0) return fail(code);
    References refs;
    if (int32_t code = first_pass(job, *old, refs); code < 0) return fail(code);
    if (int32_t code = second_pass(job, refs.all()); code < 0) return fail(code);
    return 0;
}

// ---- the two families ----------------------------------------------------------------------

int32_t dbt_create_like(const char* name, Packet& old) {
    const auto& m = static_cast<DbtPacket&>(old);
    return DBxbCreateMemo(name, std::max(1, m.block_length() / kDbtIIIBlock), m.dialect);
}

int32_t dbt_dialect(const Packet& old) { return static_cast<const DbtPacket&>(old).dialect; }

int32_t dbt_copy(Packet& from, Packet& to, int32_t block, int32_t* copied) {
    auto& source = static_cast<DbtPacket&>(from);
    HostBlock text;
    int32_t length = 0;
    if (int32_t code = _DBxbGetMemoRecord(source, block, &text, 0, &length); code < 0) return fail(code);
    *copied = 0;
    if (length == 0) return 0;
    const std::string_view bytes(text.get(), static_cast<std::size_t>(length));
    if (int32_t code = put_memo_text(static_cast<DbtPacket&>(to), copied, bytes, 0); code < 0)
        return fail(code);
    return 0;
}

int32_t fpt_create_like(const char* name, Packet& old) {
    const int32_t size = static_cast<FptPacket&>(old).block_size;
    return DBfpCreateMemo(name, size < 512 ? size : size / 512);
}

int32_t fpt_dialect(const Packet& old) { return static_cast<const FptPacket&>(old).dialect; }

// Each memo keeps its kind and every byte: its length comes from its header, not
// from the data.
int32_t fpt_copy(Packet& from, Packet& to, int32_t block, int32_t* copied) {
    auto& source = static_cast<FptPacket&>(from);
    *copied = 0;
    if (block < 1 || block >= source.next_free) return fail(DB_ERR_SEEK);
    int32_t length = 0;
    uint32_t kind = 0;
    if (int32_t code = read_memo_header(source, block, &length, &kind); code < 0) return fail(code);
    if (length == 0) return 0;
    HostBlock data;
    if (int32_t code = _read_memo(source, block, nullptr, &data, length, 0); code < 0) return fail(code);
    const std::string_view bytes(data.get(), static_cast<std::size_t>(length));
    const int32_t flags = kind == kFptPicture ? DB_FPT_PICTURE : 0;
    if (int32_t code = _write_memo(static_cast<FptPacket&>(to), copied, bytes, length, flags); code < 0)
        return fail(code);
    return 0;
}

constexpr Family kDbt{Kind::dbt, ".DBT", dbt_create_like, DBxbOpenMemo, DBxbCloseMemo, dbt_dialect, dbt_copy};
constexpr Family kFpt{Kind::fpt, ".FPT", fpt_create_like, DBfpOpenMemo, DBfpCloseMemo, fpt_dialect, fpt_copy};

int32_t pack_memo(const Family& f, int32_t table_handle, int32_t* memo) {
    if (!memo) return fail(DB_ERR_NULL);
    DBerrno = 0;
    if (int32_t code = pack(f, table_handle, memo); code < 0) return fail(code);
    return DBerrno = 0;
}

}  // namespace

}  // namespace xbdb::memo

extern "C" int32_t DBxbPackMemo(int32_t table, int32_t* memo) {
    return xbdb::memo::pack_memo(xbdb::memo::kDbt, table, memo);
}

extern "C" int32_t DBfpPackMemo(int32_t table, int32_t* memo) {
    return xbdb::memo::pack_memo(xbdb::memo::kFpt, table, memo);
}
