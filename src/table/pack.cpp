// Packing a table: the records not marked deleted are written to a new table file,
// which takes the table's name, while the old file is kept as a backup (its
// extension replaced by .BAK). The table is then opened again under its name, with
// the open mode it had.
//
// The copy goes block by block through one buffer of up to 16 KiB: a block of
// records is read from the old file, the records to keep are moved to its front in
// order (deleted ones are overwritten), and that front is written at the end of the
// new file. No record passes through a second buffer. The new table's header
// (date, record count) and end mark are written once, after the last block.
//
// Until the files are swapped nothing of the table changes: the table stays open
// with its own cache, and a failure only removes the new file. A shared table is
// locked as a whole before anything is created, so no other process writes into
// the old file while it is copied. Memo files are not touched: the records keep
// their memo block numbers as they are.
//
// The files, all in the table's directory:
//   T.DBF   the table
//   T.BAK   the old file after the pack (an older backup is replaced)
//   N.DBF   the new file while it is written, N = 0, 1, 2, ... the first free name
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "os/file_io.hpp"
#include "table/table.hpp"

namespace xbdb::table {

namespace {

constexpr char kDeleted = '*';
constexpr int64_t kBlockBytes = 16384;
constexpr std::size_t kMaxNameLength = DB_NAME_LEN - 1;
constexpr int kIndexedAt = kDescriptorSize - 1;

// ---- names -------------------------------------------------------------------------

struct PackNames {
    HostBlock table;      // the table's own name
    HostBlock backup;
    HostBlock temporary;
};

// Everything up to and including the last ':', '\' or '/' ("" when none).
std::string_view directory_of(std::string_view path) {
    const std::size_t cut = path.find_last_of(":\\/");
    return cut == std::string_view::npos ? std::string_view{} : path.substr(0, cut + 1);
}

// The parts joined into a NUL-terminated name; a name longer than a packet holds is
// refused before anything is done with it.
int32_t joined(std::initializer_list<std::string_view> parts, HostBlock* out) {
    std::size_t total = 0;
    for (std::string_view part : parts) total += part.size();
    if (total > kMaxNameLength) return fail(DB_ERR_FILENAME);
    *out = allocate_block(total + 1);
    if (!*out) return fail(DB_ERR_MEMORY);
    char* at = out->get();
    for (std::string_view part : parts) at = std::copy(part.begin(), part.end(), at);
    return 0;
}

// The name with the extension of its file part replaced by ".BAK", or with ".BAK"
// appended when the file part has none.
int32_t backup_name(std::string_view path, HostBlock* out) {
    const std::string_view directory = directory_of(path);
    const std::string_view file = path.substr(directory.size());
    if (int32_t code = joined({directory, file.substr(0, file.rfind('.')), ".BAK"}, out); code < 0)
        return fail(code);
    return 0;
}

// The first of 0.DBF, 1.DBF, ... in the table's directory that does not exist.
int32_t temporary_name(std::string_view path, HostBlock* out) {
    for (int32_t n = 0; n < INT32_MAX; ++n) {
        char number[16];
        std::snprintf(number, sizeof number, "%d", static_cast<int>(n));
        if (int32_t code = joined({directory_of(path), number, ".DBF"}, out); code < 0)
            return fail(code);
        if (!os::_DBIsFileThere(out->get())) return 0;
    }
    return fail(DB_ERR_FILENAME);
}

int32_t make_names(const TablePacket& t, PackNames* names) {
    const std::string_view path(t.name, strnlen(t.name, sizeof t.name));
    if (int32_t code = joined({path}, &names->table); code < 0) return fail(code);
    if (int32_t code = backup_name(path, &names->backup); code < 0) return fail(code);
    if (int32_t code = temporary_name(path, &names->temporary); code < 0) return fail(code);
    return 0;
}

// ---- the table before and after -------------------------------------------------------

// The open mode that gives the reopened table every property the table has now.
int32_t reopen_mode(const TablePacket& t) {
    int32_t mode = t.dialect_number();
    if (t.unbuffered()) mode |= t.family_word ? DB_OPEN_UNBUFFERED : DB_OPEN_UNBUFFERED_NOFLUSH;
    if (t.shared()) mode |= DB_OPEN_SHARED;
    if (t.auto_lock()) mode |= DB_OPEN_AUTOLOCK;
    if (t.flags & kFlagMultiLock) mode |= DB_OPEN_MULTILOCK;
    return mode;
}

// The whole-file lock of a shared table, held from before the new file is created
// until the table is closed. A lock the caller held already stays the caller's.
class FileLock {
public:
    explicit FileLock(TablePacket& t) : t_(t) {}
    ~FileLock() { release(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    int32_t take() {
        if (!t_.shared() || t_.lock_state == DB_LOCKSTATE_FILE) return 0;
        if (int32_t code = _DBLockFile(t_); code < 0) {
            took_ = t_.lock_state == DB_LOCKSTATE_FILE;
            return fail(code);
        }
        took_ = true;
        return 0;
    }
    // The table was closed, which ended its locks.
    void closed() { took_ = false; }

private:
    void release() {
        if (!took_) return;
        const int32_t saved = DBerrno;
        DBerrno = 0;
        _DBUnLockAll(t_);
        DBerrno = saved;
        took_ = false;
    }

    TablePacket& t_;
    bool took_ = false;
};

// Pending records and header reach the file, so that the file is the whole table.
int32_t write_pending(TablePacket& t) {
    if (!t.unbuffered())
        if (int32_t code = _DBFlushFile(t); code < 0) return fail(code);
    t.pending = 0;
    return 0;
}

// One field specification per field, as the table's descriptors give them; the
// indexed-field flag is carried as the type's indexed bit.
int32_t describe_fields(const TablePacket& t, HostPtr<DBFieldSpec[]>* specs) {
    const auto count = static_cast<std::size_t>(std::max<int16_t>(t.field_count, 1));
    specs->reset(static_cast<DBFieldSpec*>(allocate(sizeof(DBFieldSpec) * count)));
    if (!*specs) return fail(DB_ERR_MEMORY);
    for (int i = 0; i < t.field_count; ++i) {
        const Field& f = t.field(i);
        DBFieldSpec& s = (*specs)[i];
        std::memcpy(s.name, f.name, sizeof s.name);
        s.type = static_cast<uint8_t>(f.type) | (f.raw[kIndexedAt] ? DB_FIELD_INDEXED : 0);
        s.length = static_cast<int32_t>(f.length);
        s.decimals = f.decimals;
    }
    return 0;
}

// ---- the new table -----------------------------------------------------------------

// The new table file while it is made. Unless it is kept (it became the table),
// it is closed and removed when this goes.
class NewTable {
public:
    explicit NewTable(const char* name) : name_(name) {}
    ~NewTable() { discard(); }
    NewTable(const NewTable&) = delete;
    NewTable& operator=(const NewTable&) = delete;

    int32_t create(const TablePacket& source);
    int32_t open(const TablePacket& source);
    TablePacket& table() { return *table_; }
    int32_t close();
    void keep() { created_ = false; }

private:
    void discard();

    const char* name_;
    int32_t handle_ = DB_NO_HANDLE;
    TablePacket* table_ = nullptr;
    bool created_ = false;
};

// Records are copied byte for byte, so the new table must place every field where
// the old one has it. A create forces the widths of some types; a foreign table
// with another width there (a 4-byte memo field, say) is refused, not rearranged.
int32_t NewTable::create(const TablePacket& source) {
    HostPtr<DBFieldSpec[]> specs;
    if (int32_t code = describe_fields(source, &specs); code < 0) return fail(code);
    int32_t dialect = source.dialect_number();
    if (source.production_flag()) dialect |= DB_CREATE_PRODUCTION;
    if (int32_t code = DBCreateFile(name_, source.field_count, specs.get(), dialect); code < 0)
        return fail(code);
    created_ = true;
    for (int i = 0; i < source.field_count; ++i)
        if (specs[i].length != static_cast<int32_t>(source.field(i).length))
            return fail(DB_ERR_RECORD_LENGTH);
    return 0;
}

int32_t NewTable::open(const TablePacket& source) {
    if (int32_t code = DBOpenFile(&handle_, name_, source.dialect_number()); code < 0)
        return fail(code);
    table_ = static_cast<TablePacket*>(packet_of(handle_, Kind::dbf));
    if (!table_) return fail(DB_ERR_HANDLE);
    if (table_->record_length() != source.record_length()) return fail(DB_ERR_RECORD_LENGTH);
    return 0;
}

int32_t NewTable::close() {
    if (int32_t code = DBCloseFile(handle_); code < 0) return fail(code);
    handle_ = DB_NO_HANDLE;
    table_ = nullptr;
    return 0;
}

void NewTable::discard() {
    const int32_t saved = DBerrno;
    if (handle_ != DB_NO_HANDLE) {
        // Nothing more is written to a file that is thrown away.
        if (table_) table_->pending = 0;
        if (DBCloseFile(handle_) < 0) release_slot(handle_);
        handle_ = DB_NO_HANDLE;
    }
    if (created_) os::_DBosDeleteFile(name_);
    created_ = false;
    DBerrno = saved;
}

// ---- the copy --------------------------------------------------------------------------

// Moves the records of the block that are not marked deleted to its front, in their
// order; returns how many there are. Only an asterisk marks a record deleted.
int64_t compact(char* block, int64_t records, int64_t length) {
    int64_t kept = 0;
    for (int64_t i = 0; i < records; ++i) {
        const char* record = block + i * length;
        if (*record == kDeleted) continue;
        if (kept != i) std::memmove(block + kept * length, record, static_cast<std::size_t>(length));
        ++kept;
    }
    return kept;
}

int32_t copy_active_records(const TablePacket& from, TablePacket& to) {
    const int64_t length = from.record_length();
    const int64_t capacity = std::max<int64_t>(kBlockBytes / length, 1);
    HostBlock buffer = allocate_block(static_cast<std::size_t>(capacity * length));
    if (!buffer) return fail(DB_ERR_MEMORY);
    const int64_t count = from.record_count();
    int64_t written = 0;
    for (int64_t r = 1; r <= count;) {
        const int64_t records = std::min(capacity, count - r + 1);
        const std::span<char> block(buffer.get(), static_cast<std::size_t>(records * length));
        if (int32_t code = os::read_at(from.fd, from.record_offset(r), block); code < 0)
            return fail(code);
        const int64_t kept = compact(buffer.get(), records, length);
        const std::span<const char> front(buffer.get(), static_cast<std::size_t>(kept * length));
        if (kept > 0)
            if (int32_t code = os::write_at(to.fd, to.record_offset(written + 1), front); code < 0)
                return fail(code);
        written += kept;
        r += records;
    }
    // The header's date and count, and the end mark after the last record.
    to.set_record_count(static_cast<uint32_t>(written));
    to.pending = kPendingAppend;
    if (int32_t code = _DBFlushFile(to); code < 0) return fail(code);
    return 0;
}

int32_t write_new_table(const TablePacket& source, NewTable& target) {
    if (int32_t code = target.create(source); code < 0) return fail(code);
    if (int32_t code = target.open(source); code < 0) return fail(code);
    if (int32_t code = copy_active_records(source, target.table()); code < 0) return fail(code);
    if (int32_t code = target.close(); code < 0) return fail(code);
    return 0;
}

// ---- the swap ------------------------------------------------------------------------

// The old file becomes the backup and the new one takes the table's name. When the
// second rename fails, the old file gets its name back.
int32_t swap_files(const PackNames& n) {
    os::_DBosDeleteFile(n.backup.get());  // a missing backup is no error
    DBerrno = 0;
    if (int32_t code = os::_DBosRenameFile(n.backup.get(), n.table.get()); code < 0)
        return fail(code);
    if (int32_t code = os::_DBosRenameFile(n.table.get(), n.temporary.get()); code < 0) {
        os::_DBosRenameFile(n.table.get(), n.backup.get());
        DBerrno = code;
        return fail(code);
    }
    return 0;
}

// Opens the table under its name again, with its mode and cache size.
int32_t reopen(int32_t* handle, const char* name, int32_t mode, int32_t capacity) {
    DBerrno = 0;
    if (int32_t code = DBOpenFile(handle, name, mode); code < 0) return fail(code);
    TablePacket* t = _DBLockDataStruc(*handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (!t->unbuffered() && capacity > 0 && capacity != t->cache_capacity) {
        int32_t records = capacity;
        if (int32_t code = DBGetSetCacheSize(*handle, &records, DB_CACHE_SET); code < 0)
            return fail(code);
    }
    return 0;
}

// Closes the table, swaps the files and opens the table again. After a failed swap
// the old file is in place and that is what is opened; the swap's code is returned.
int32_t replace_table(int32_t* handle, const TablePacket& t, const PackNames& names,
                      NewTable& target, FileLock& lock) {
    const int32_t mode = reopen_mode(t);
    const int32_t capacity = t.cache_capacity;
    if (int32_t code = DBCloseFile(*handle); code < 0) return fail(code);
    lock.closed();
    *handle = DB_NO_HANDLE;
    const int32_t swapped = swap_files(names);
    if (swapped >= 0) target.keep();
    const int32_t reopened = reopen(handle, names.table.get(), mode, capacity);
    if (swapped < 0) {
        DBerrno = swapped;
        return fail(swapped);
    }
    if (reopened < 0) return fail(reopened);
    return 0;
}

int32_t pack(int32_t* handle) {
    TablePacket* t = _DBLockDataStruc(*handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (t->read_only()) return fail(DB_ERR_READ_ONLY);
    PackNames names;
    if (int32_t code = make_names(*t, &names); code < 0) return fail(code);
    if (int32_t code = write_pending(*t); code < 0) return fail(code);
    FileLock lock(*t);
    if (int32_t code = lock.take(); code < 0) return fail(code);
    NewTable target(names.temporary.get());
    if (int32_t code = write_new_table(*t, target); code < 0) return fail(code);
    if (int32_t code = replace_table(handle, *t, names, target, lock); code < 0) return fail(code);
    return 0;
}

}  // namespace

}  // namespace xbdb::table

using namespace xbdb;
using namespace xbdb::table;

extern "C" {

int32_t DBPackFile(int32_t* handle) {
    if (!handle) return fail(DB_ERR_NULL);
    if (int32_t code = pack(handle); code < 0) return fail(code);
    return DBerrno = 0;
}

}  // extern "C"
