#include "table/table.hpp"

namespace xbdb::table {

TablePacket* DBxbd = nullptr;

TablePacket* _DBLockDataStruc(int32_t handle) {
    auto* packet = static_cast<TablePacket*>(packet_of(handle, Kind::dbf));
    if (!packet) {
        DBerrno = DB_ERR_HANDLE;
        return nullptr;
    }
    DBxbd = packet;
    DBerrno = 0;
    return packet;
}

}  // namespace xbdb::table
