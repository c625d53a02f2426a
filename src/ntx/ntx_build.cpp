// DBclBuildIndex: a new NTX file holding one key for every record of a table,
// written by the shared bulk build (index/bulk_build.hpp) through the NTX page
// codec below.
//
// Every record from 1 to the record count is keyed, deleted ones included. NTX
// keys sort as their bytes, so the sort form of a key is the key itself. When the
// expression is just the name of a C, D or N field the key is taken from the
// record without the evaluator, but always exactly as DBclMakeKey would make it:
//
//   C  the field's text up to its first NUL, cut to the key size, padded with blanks;
//   D  the stored date yyyymmdd (8 blanks when empty), padded or cut to the key size;
//   N  the field's text read as a number (a blank field as 0) and printed as the
//      numeric key of the index's size and decimals.
//
// Anything else (other field types, dates that are not dates, expressions) is
// keyed by DBclMakeKey on the record made current.
#include <cstdlib>
#include <cstring>

#include "core/failure.hpp"
#include "date/dates.hpp"
#include "index/bulk_build.hpp"
#include "ntx/ntx_packet.hpp"
#include "os/file_io.hpp"

namespace xbdb::ntx {

namespace {

constexpr int16_t kBuildBuffers = 3;
constexpr std::size_t kNumberTextSize = 256;  // as the numeric field read sees the text
constexpr std::size_t kDateSize = 8;

// ---- the page codec --------------------------------------------------------------

// NTX pages for the bottom-up writer: entries are (child, record number, key) slots,
// the slot after the last entry holds the last child with record number 0 (readers
// that walk count + 1 slots take a non-zero one for a key).
class NtxCodec final : public index::bulk::PageCodec {
public:
    explicit NtxCodec(const Geometry& g) : g_(g) {}

    int32_t page_size() const override { return kPageSize; }
    bool copies_leaf_keys() const override { return false; }
    void start(char* page, int, int64_t) override { Page(page, g_).format_empty(); }
    bool has_room(const char* page, int, const char*) const override {
        return view(page).count() < g_.max_items;
    }
    void append(char* page, int, const char* item, int64_t child) override {
        Page p(page, g_);
        const int32_t i = p.count();
        p.set_child(i, static_cast<uint32_t>(child));
        p.set_entry(i, be32(item + g_.key_size), item);
        p.set_count(i + 1);
    }
    void close(char* page, int, int64_t last_child) override {
        Page p(page, g_);
        p.set_child(p.count(), static_cast<uint32_t>(last_child));
    }
    int32_t count(const char* page) const override { return view(page).count(); }
    void last_entry(const char* page, char* item, int64_t& child) const override {
        const Page p = view(page);
        const int32_t i = p.count() - 1;
        std::memcpy(item, p.key(i), static_cast<std::size_t>(g_.key_size));
        put_be32(item + g_.key_size, p.recno(i));
        child = p.child(i);
    }
    int64_t last_child(const char* page) const override {
        const Page p = view(page);
        return p.child(p.count());
    }
    void drop_last(char* page) override {
        Page p(page, g_);
        const int32_t i = p.count() - 1;
        p.set_count(i);
        std::memset(p.slot(i) + kRecnoAt, 0, static_cast<std::size_t>(g_.item_size - kRecnoAt));
    }
    void replace_last(char* page, const char* item) override {
        Page p(page, g_);
        p.set_entry(p.count() - 1, be32(item + g_.key_size), item);
    }

private:
    Page view(const char* page) const { return Page(const_cast<char*>(page), g_); }

    const Geometry& g_;
};

// ---- keys ------------------------------------------------------------------------

enum class Source { evaluated, text, date, number };

struct FieldSource {
    char type;
    Source source;
};

// Field types keyed straight from the record; every other type is evaluated.
constexpr FieldSource kFieldSources[] = {
    {'C', Source::text},
    {'D', Source::date},
    {'N', Source::number},
};

// Copies text up to its first NUL, at most from_size bytes, and blank-pads to size.
void copy_padded(char* key, const char* text, std::size_t from_size, std::size_t size) {
    const std::size_t used = strnlen(text, std::min(from_size, size));
    std::memcpy(key, text, used);
    std::memset(key + used, ' ', size - used);
}

class NtxKeys final : public index::bulk::KeyMaker {
public:
    NtxKeys(index::bulk::TableForBuild& table, int32_t index, const NtxPacket& x)
        : table_(table), index_(index), x_(x),
          key_size_(static_cast<std::size_t>(x.key_size())) {}

    // Chooses how keys are made: from the field the expression names, or evaluated.
    void prepare();
    int32_t make(const char* record, int32_t recno, char* key) override;

private:
    int32_t evaluated(const char* record, int32_t recno, char* key);
    bool date(const char* field, char* key) const;
    void number(const char* field, char* key) const;

    index::bulk::TableForBuild& table_;
    int32_t index_;
    const NtxPacket& x_;
    std::size_t key_size_;
    Source source_ = Source::evaluated;
    const table::Field* field_ = nullptr;
};

void NtxKeys::prepare() {
    const table::TablePacket& t = table_.packet();
    for (int16_t i = 0; i < t.field_count; ++i) {
        const table::Field& f = t.field(i);
        char name[sizeof f.name + 1] = {};
        std::memcpy(name, f.name, strnlen(f.name, sizeof f.name));
        if (_DBstricmp(name, x_.header.expression()) != 0) continue;
        for (const FieldSource& row : kFieldSources)
            if (row.type == f.type) {
                source_ = row.source;
                field_ = &f;
            }
        return;
    }
}

int32_t NtxKeys::make(const char* record, int32_t recno, char* key) {
    const char* field = field_ ? record + field_->offset : nullptr;
    switch (source_) {
        case Source::text: copy_padded(key, field, field_->length, key_size_); return 0;
        case Source::number: number(field, key); return 0;
        case Source::date:
            if (date(field, key)) return 0;
            break;
        case Source::evaluated: break;
    }
    if (int32_t code = evaluated(record, recno, key); code < 0) return fail(code);
    return 0;
}

// The stored date as the field read takes it (its first 8 bytes), written back in
// canonical form; false when it is no date, for the evaluator to decide.
bool NtxKeys::date(const char* field, char* key) const {
    char raw[kDateSize];
    std::memset(raw, ' ', sizeof raw);
    std::memcpy(raw, field, std::min<std::size_t>(field_->length, sizeof raw));
    const int32_t saved = DBerrno;
    dates::Ymd ymd;
    char canonical[dates::kDateTextSize];
    const int32_t parsed = dates::parse_date(std::string_view(raw, sizeof raw), DB_DATE_YYYYMMDD, ymd);
    bool made = true;
    if (parsed == DB_WARN_EMPTY)
        std::memset(canonical, ' ', kDateSize);
    else
        made = parsed >= 0 && dates::format_date(canonical, DB_DATE_YYYYMMDD, ymd) >= 0;
    DBerrno = saved;
    if (made) copy_padded(key, canonical, kDateSize, key_size_);
    return made;
}

void NtxKeys::number(const char* field, char* key) const {
    char text[kNumberTextSize];
    const std::size_t n = std::min<std::size_t>(field_->length, sizeof text - 1);
    std::memcpy(text, field, n);
    text[n] = '\0';
    // numeric_key writes the terminator too: the item has room after the key.
    numeric_key(key, std::strtod(text, nullptr), x_.key_size(), x_.header.decimals());
}

int32_t NtxKeys::evaluated(const char* record, int32_t recno, char* key) {
    table_.make_current(record, recno);
    char* made = nullptr;
    if (int32_t code = DBclMakeKey(table_.handle(), index_, &made); code < 0) return fail(code);
    const std::size_t used = strnlen(made, key_size_);
    std::memcpy(key, made, used);
    std::memset(key + used, ' ', key_size_ - used);
    release(made);
    return 0;
}

// ---- the build -------------------------------------------------------------------

int32_t write_tree(index::bulk::TableForBuild& table, int32_t handle, NtxPacket& x,
                   const char* name) {
    NtxKeys keys(table, handle, x);
    keys.prepare();
    NtxCodec codec(x.geometry);
    index::bulk::PageSpace space{x.fd, kFirstPage, x.file_length};
    const index::bulk::ItemShape shape{x.key_size(), x.header.unique()};
    index::bulk::TreeWriter writer(codec, space, shape);
    if (int32_t code = index::bulk::sort_keys(table, keys, shape, name, writer); code < 0)
        return fail(code);
    int64_t root = 0;
    if (int32_t code = writer.finish(root); code < 0) return fail(code);
    x.header.set_root(static_cast<uint32_t>(root));
    x.file_length = static_cast<int32_t>(space.end);
    return 0;
}

// Closes the built index: after a good build its flush writes version, root and
// free page; after a failed one nothing more is written (the file goes anyway).
int32_t close_built(int32_t handle, NtxPacket& x, int32_t code) {
    x.modified = code >= 0;
    const int32_t closed = DBclCloseIndex(handle);
    if (closed < 0 && packet_of(handle, Kind::ntx) == &x) {
        x.modified = false;
        DBclCloseIndex(handle);
    }
    if (code < 0) return code;
    if (closed < 0) return fail(closed);
    return 0;
}

int32_t fill_index(index::bulk::TableForBuild& table, const char* name) {
    int32_t handle = DB_NO_HANDLE;
    if (int32_t code = DBclOpenIndex(&handle, name, 0); code < 0) return fail(code);
    auto* x = static_cast<NtxPacket*>(packet_of(handle, Kind::ntx));
    int32_t buffers = kBuildBuffers;
    DBclGetSetCacheSize(handle, &buffers, DB_CACHE_SET);
    const int32_t code = write_tree(table, handle, *x, name);
    if (int32_t closed = close_built(handle, *x, code); closed < 0) return fail(closed);
    return 0;
}

int32_t build_index(int32_t table_handle, table::TablePacket& t, const char* name, int32_t type,
                    char* expression, int32_t length, int32_t decimals) {
    // A creation that fails part way leaves a file behind; it is removed unless a
    // file of that name was there before (which the failure may not have touched).
    const bool existed = os::_DBIsFileThere(name);
    if (int32_t code = DBclCreateIndex(name, type, expression, length, decimals); code < 0) {
        if (!existed) os::_DBosDeleteFile(name);
        return fail(code);
    }
    index::bulk::TableForBuild table(table_handle, t);
    int32_t code = table.begin();
    if (code >= 0 && table.records() > 0) code = fill_index(table, name);
    table.end();
    if (code < 0) {
        os::_DBosDeleteFile(name);
        return fail(code);
    }
    return 0;
}

}  // namespace
}  // namespace xbdb::ntx

extern "C" int32_t DBclBuildIndex(int32_t table, const char* name, int32_t key_type,
                                  char* expression, int32_t key_length, int32_t decimals) {
    using namespace xbdb;
    table::TablePacket* t = table::_DBLockDataStruc(table);
    if (!t) return fail(DB_ERR_HANDLE);
    if (!name || !expression) return fail(DB_ERR_NULL);
    if (int32_t code = ntx::build_index(table, *t, name, key_type, expression, key_length, decimals);
        code < 0)
        return fail(code);
    return DBerrno = 0;
}
