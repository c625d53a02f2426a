// DBclMakeKey: the key of a table's current record, from the index's expression.
//
// Character results are the key as they are. Date results become yyyymmdd from the
// date as the table stores it (never read back from a shown text, whose century a
// two-digit-year style has lost), or 8 blanks for an empty date. Numeric results
// become the numeric key text that DBclDoubleToKey makes for the same value.
#include <cstring>

#include "core/failure.hpp"
#include "expr/expr.hpp"
#include "ntx/ntx_packet.hpp"

namespace xbdb::ntx {
namespace {

int32_t date_key(const expr::Value& value, HostBlock& key) {
    char stored[expr::kStoredDateLength + 1];
    if (int32_t code = expr::stored_date(value, stored); code < 0) return fail(code);
    key = allocate_block(sizeof stored);
    if (!key) return fail(DB_ERR_MEMORY);
    std::memcpy(key.get(), stored, sizeof stored);
    return 0;
}

int32_t number_key(const NtxPacket& x, const expr::Value& value, HostBlock& key) {
    key = allocate_block(static_cast<std::size_t>(x.key_size()) + 1);
    if (!key) return fail(DB_ERR_MEMORY);
    numeric_key(key.get(), value.number(), x.key_size(), x.header.decimals());
    return 0;
}

int32_t make_key(int32_t table, const NtxPacket& x, HostBlock& key) {
    expr::Value value;
    if (int32_t code = expr::evaluate(table, x.header.expression(), value); code < 0)
        return fail(code);
    switch (value.type) {
        case 'C': key = std::move(value.buffer); return key ? 0 : fail(DB_ERR_KEY_EXPR);
        case 'D': return date_key(value, key);
        case 'N':
        case 'F': return number_key(x, value, key);
        default: return fail(DB_ERR_KEY_EXPR);
    }
}

}  // namespace
}  // namespace xbdb::ntx

using namespace xbdb;
using namespace xbdb::ntx;

extern "C" int32_t DBclMakeKey(int32_t table, int32_t index, char** key) {
    if (!key) return fail(DB_ERR_NULL);
    *key = nullptr;
    NtxPacket* x = _DBclLockIndexStruc(index);
    if (!x) return fail(DB_ERR_HANDLE);
    HostBlock made;
    if (int32_t code = make_key(table, *x, made); code < 0) return fail(code);
    *key = made.release();
    DBerrno = 0;
    return 0;
}
