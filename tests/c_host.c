/* A host program in plain C99 that knows the library only through xbdb.h: it calls
 * every exported function once with the declared types and checks the basics, so
 * that a prototype, a type or an exported name that drifts breaks this build. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "xbdb.h"

static int failures = 0;

static void expect(int ok, const char *what) {
    if (!ok) {
        printf("FAILED: %s (DBerrno %d)\n", what, (int)DBerrno);
        ++failures;
    }
}

static void core_calls(void) {
    char version[DB_VERSION_LEN];
    int32_t used = -1, capacity = -1, retry = -1;
    char *block = NULL;

    expect(DBInitialize(20, 0) == 0, "DBInitialize");
    expect(DBdate_style == 1, "date style 0 becomes 1");
    expect(DBGetVersion(version) == 0 && strcmp(version, "3.22 (19920301)") == 0, "DBGetVersion");
    expect(strcmp(DBvers, version) == 0, "DBvers");
    expect(DBSetLockRetryCount(2) == 0 && DBGetLockRetryCount(&retry) == 0 && retry == 2,
           "lock retry count");
    DBSetLockRetryCount(0);
    expect(DBGetLockCount(&used, &capacity) == 0 && used == 0 && capacity == 30, "DBGetLockCount");
    expect(DBSetLockCount(40) == 0, "DBSetLockCount");
    expect(getDBsamba() == DBsamba, "getDBsamba");
    expect(DBGetFileDescriptor(0) == DB_ERR_HANDLE, "DBGetFileDescriptor on a free slot");
    expect(DBAllocateMemoryLog(&block, 10, mrv_basename(__FILE__), __LINE__) == 0 && block,
           "DBAllocateMemoryLog");
    expect(DBReAllocateMemory(&block, 100, "c_host.c", __LINE__) == 0, "DBReAllocateMemory");
    expect(DBFreeMemory(block, "c_host.c", __LINE__) == 0, "DBFreeMemory");
    expect(DBSetErrorCode(-205) == -205 && DBGetErrorCode() == -205, "error code");
    expect(strcmp(DBGetErrorStr(), "ERROR - file not found") == 0, "DBGetErrorStr");
    expect(DBErrorLog(0, "unused.log") == -205, "DBErrorLog returns DBerrno");
    DBSetErrorCode(0);
    expect(strlen(DBcopyr) > 0 && vk_mdxhdr[0] == 0, "banner and header image");
}

static void file_calls(const char *dir) {
    char path[256], renamed[256], buffer[8];
    int32_t fd = -1, length = -1, position = -1;
    uint8_t flags = 0, at_end = 0;

    sprintf(path, "%s/c_host.dat", dir);
    sprintf(renamed, "%s/c_host.new", dir);
    expect(DBosCreateFile(&fd, path) >= 0 && fd >= 0, "DBosCreateFile");
    expect(DBosWriteData(fd, "abcdef", 6, 1) >= 0, "DBosWriteData");
    expect(DBosCloseFile(fd) >= 0, "DBosCloseFile");
    expect(DBosOpenFile(&fd, path, DB_OPEN_SHARED, &flags) >= 0 && flags == 4, "DBosOpenFile");
    expect(DBosFileLength(fd, &length) == 0 && length == 6, "DBosFileLength");
    expect(DBosSetFilePosition(fd, 2) >= 0, "DBosSetFilePosition");
    expect(DBosReadData(fd, buffer, 4) >= 0 && memcmp(buffer, "cdef", 4) == 0, "DBosReadData");
    expect(vk_read_length == 4, "vk_read_length");
    expect(DBosGetFilePosition(fd, &position) >= 0 && position == 6, "DBosGetFilePosition");
    expect(DBosEndOfFile(fd, &at_end) >= 0 && at_end == 1, "DBosEndOfFile");
    expect(DBosFlushFile(fd) >= 0, "DBosFlushFile");
    expect(DBosSetFileSize(fd, 1000) >= 0, "DBosSetFileSize");
    expect(DBosLockData(fd, DB_LOCK_EXCLUSIVE, 0xEFFFFFFEu, 2) >= 0, "DBosLockData");
    expect(DBosTestLock(fd, 0xEFFFFFFEu, 2) == 1, "DBosTestLock");
    expect(DBosLockData(fd, DB_LOCK_RELEASE, 0xEFFFFFFEu, 2) >= 0, "unlock");
    expect(DBSetFilePosition(0, 0, DB_SEEK_SET) == DB_ERR_HANDLE, "DBSetFilePosition");
    DBSetErrorCode(0); /* the file layer returns the code it finds on success */
    expect(DBosCloseFile(fd) == 0, "close again");
    remove(path);
    remove(renamed);
}

static void date_calls(void) {
    char text[DB_DATE_TEXT_LEN], name[DB_DAY_NAME_LEN], style_name[DB_STYLE_NAME_LEN];
    char time_text[DB_TIME_TEXT_LEN];
    int32_t y, m, d, w, n, days, h, mi, s, f, style;

    expect(DBIsLeapYear(2000) == 1 && DBdpm[2] == 29, "DBIsLeapYear");
    expect(DBDaysInMonth(&days, 2023, 2) == 0 && days == 28, "DBDaysInMonth");
    expect(DBDate3ToLong(&n, 2000, 1, 1) == 0 && n == 730120, "DBDate3ToLong");
    expect(DBLongDateTo3(&y, &m, &d, n) == 0 && y == 2000 && m == 1 && d == 1, "DBLongDateTo3");
    expect(DBLongDateToDayOfWeek(&w, n) == 0 && w == 6, "DBLongDateToDayOfWeek");
    expect(DBLongDateToStr(text, DB_DATE_YYYYMMDD, n) == 0 && strcmp(text, "20000101") == 0,
           "DBLongDateToStr");
    expect(DBDate3ToStr(text, DB_DATE_DMY_DOT_YYYY, 2024, 2, 29) == 0 &&
               strcmp(text, "29.02.2024") == 0, "DBDate3ToStr");
    expect(DBStrDateTo3(&y, &m, &d, "12/31/99", 1) == 0 && y == 2099, "DBStrDateTo3");
    expect(DBStrDateToLong(&n, "20000101", 4) == 0 && n == 730120, "DBStrDateToLong");
    expect(DBStrDateToIntDayWeek(&w, "01/01/2025", 2) == 0 && w == 3, "DBStrDateToIntDayWeek");
    expect(DBStrDateToDayOfWeek(name, "01/01/2025", 2) == 0 && strcmp(name, "Wednesday") == 0,
           "DBStrDateToDayOfWeek");
    expect(DBDayOfWeek(name, 0) == 0 && strcmp(name, vk_daystr[0]) == 0, "DBDayOfWeek");
    expect(DBStrDateToMonth(name, "20240315", 4) == 0 && strcmp(name, "March") == 0,
           "DBStrDateToMonth");
    expect(DBMonthToStr(name, 12) == 0 && strcmp(name, vk_monstr[11]) == 0, "DBMonthToStr");
    expect(DBConvertDateStr(text, 9, "20240315", 4) == 0 && strcmp(text, "15/03/2024") == 0,
           "DBConvertDateStr");
    expect(DBDaysBetweenStr(&days, "12/31/2024", 2, "01/01/2025", 2) == 0 && days == 1,
           "DBDaysBetweenStr");
    expect(DBIsStrLeapYear("02/29/2024", 2) == 1, "DBIsStrLeapYear");
    expect(DBDaysInMonthStr(&days, "02/01/2024", 2) == 0 && days == 29, "DBDaysInMonthStr");
    expect(DBIsValidDateStr("  /  /    ", 2) == 202, "DBIsValidDateStr");
    expect(DBGetDate3(&y, &m, &d, &w) == 0 && y >= 2000, "DBGetDate3");
    expect(DBGetDateStr(text, 4) == 0 && strlen(text) == 8, "DBGetDateStr");
    expect(DBSetDefaultDateStyle(16) == DB_ERR_COMMAND, "DBSetDefaultDateStyle");
    expect(DBGetDefaultDateStyle(&style, style_name) == 0 && style == 1 &&
               strcmp(style_name, vk_styles[0]) == 0, "DBGetDefaultDateStyle");
    expect(DBTime3ToStr(time_text, 1, 9, 5, 0) == 0 && strcmp(time_text, "09:05:00") == 0,
           "DBTime3ToStr");
    expect(DBStrTimeTo3(&h, &mi, &s, "2359", 2) == 0 && h == 23 && mi == 59 && s == 0,
           "DBStrTimeTo3");
    expect(DBGetTime3(&h, &mi, &s, &f) == 0 && f == 0, "DBGetTime3");
    expect(DBGetTimeStr(time_text, 2) == 0 && strlen(time_text) == 4, "DBGetTimeStr");
    expect(DBSecondsBetweenStr(&s, "10:00:00", 1, "09:59:30", 1) == 0 && s == 30,
           "DBSecondsBetweenStr");
    expect(DBIsValidTimeStr("24:00:00", 1) == DB_ERR_TIME, "DBIsValidTimeStr");
}


static void table_calls(const char *dir) {
    char path[256], text[64];
    DBFieldSpec fields[4] = {{"NAME", 'C', 10, 0}, {"QTY", 'N', 5, 0}, {"SOLD", 'D', 8, 0},
                             {"NOTE", 'M', 10, 0}};
    DBFieldSpec spec;
    DBFileInfo file_info;
    DBRecordInfo record_info;
    DBLockInfo *locks = NULL;
    int32_t h = -1, n = 0, count = 0, longest = 0, lock_count = 0, records = 4;
    int16_t field = -1;
    double qty = 7;
    char *buffer;

    sprintf(path, "%s/c_host.dbf", dir);
    expect(DBCreateFile(path, 4, fields, 1) == 0, "DBCreateFile");
    expect(DBOpenFile(&h, path, DB_OPEN_SHARED | 1) == 0, "DBOpenFile");
    expect(DBGetFileDescriptor(h) >= 0, "DBGetFileDescriptor");
    expect(DBSetFilePosition(h, 0, DB_SEEK_END) > 0, "DBSetFilePosition");
    expect(DBGetRecordInfo(h, &record_info) == 0 && record_info.field_count == 4, "DBGetRecordInfo");
    expect(DBClearBuffer(h) == 0, "DBClearBuffer");
    expect(DBPutStrField(h, 0, "Smith") == 0, "DBPutStrField");
    expect(DBPutNamedStr(h, "NAME", "Smith") == 0, "DBPutNamedStr");
    expect(DBPutNamedData(h, "sold", (void *)"12/31/99") == 0, "DBPutNamedData (date)");
    expect(DBPutFieldData(h, 1, &qty) == 0, "DBPutFieldData");
    expect(DBPutNamedData(h, "QTY", &qty) == 0, "DBPutNamedData");
    expect(DBLockHeader(h) == 0, "DBLockHeader");
    expect(DBPutRecord(h, &n, DB_PUT_APPEND) == 0 && n == 1, "DBPutRecord");
    buffer = (char *)malloc((size_t)record_info.record_length + 64);
    memset(buffer, 0, (size_t)record_info.record_length + 64);
    expect(DBGetRecordToBuffer(h, buffer, 1) >= 0, "DBGetRecordToBuffer");
    expect(DBPutRecordFromBuffer(h, buffer, &n, DB_PUT_APPEND) == 0 && n == 2,
           "DBPutRecordFromBuffer");
    free(buffer);
    expect(DBUnLockHeader(h) == 0, "DBUnLockHeader");
    expect(DBGetRecordCount(h, &count) == 0 && count == 2, "DBGetRecordCount");
    expect(DBLockRecord(h, 1) == 0 && DBIsRecordLocked(h, 1) == 1, "DBLockRecord");
    expect(DBGetLockInfo(h, &locks, &lock_count) == 0 && lock_count == 1 && locks[0].kind == 1,
           "DBGetLockInfo");
    DBFreeMemory(locks, "c_host.c", __LINE__);
    expect(DBGetRecord(h, 1) == 0, "DBGetRecord");
    expect(DBGetRecordNumber(h, &n) == 0 && n == 1, "DBGetRecordNumber");
    expect(DBIsBeginningOfFile(h) == 1 && DBIsEndOfFile(h) == 0, "beginning/end of file");
    expect(DBGetStrField(h, 0, text) == 0 && strcmp(text, "Smith     ") == 0, "DBGetStrField");
    expect(DBGetNamedStr(h, "NAME", text) == 0, "DBGetNamedStr");
    expect(DBGetFieldData(h, 2, text) == 0 && strcmp(text, "12/31/99") == 0, "DBGetFieldData");
    expect(DBGetNamedData(h, "QTY", &qty) == 0 && qty == 7, "DBGetNamedData");
    expect(DBIsFieldBlank(h, 3) == 1 && DBIsNamedBlank(h, "NAME") == 0, "blank tests");
    expect(DBGetFieldNumber(h, &field, "qty") == 0 && field == 1, "DBGetFieldNumber");
    expect(DBGetFieldName(h, text, 2) == 0 && strcmp(text, "SOLD") == 0, "DBGetFieldName");
    expect(DBGetFieldDescription(h, 0, &spec) == 0 && spec.length == 10, "DBGetFieldDescription");
    expect(DBGetFileDescription(h, &longest, fields) == 0 && longest == 10, "DBGetFileDescription");
    expect(DBMarkRecordInActive(h, 1) == 0 && DBGetRecord(h, 1) == DB_WARN_DELETED &&
               DBIsRecordDeleted(h) == DB_WARN_DELETED, "DBMarkRecordInActive");
    expect(DBMarkRecordActive(h, 1) == 0, "DBMarkRecordActive");
    expect(DBUnLockRecord(h, 1) == 0, "DBUnLockRecord");
    expect(DBReadLockRecord(h, 2) == 0 && DBReadLockHeader(h) == 0, "read locks");
    expect(DBLockFile(h) == 0 && DBUnLockAll(h) == 0 && DBReadLockFile(h) == 0, "file locks");
    expect(DBGetFileHeader(h) == 0, "DBGetFileHeader");
    expect(DBGetFileInfo(h, &file_info) == 0 && file_info.memo == 1, "DBGetFileInfo");
    expect(DBGetLastUpdate(h, text, 4) == 0 && strlen(text) == 8, "DBGetLastUpdate");
    expect(DBGetSetCacheSize(h, &records, DB_CACHE_SET) == 0, "DBGetSetCacheSize");
    expect(DBSetProductionIndex(h, '0') == 0, "DBSetProductionIndex");
    expect(DBSetFieldIndexed(h, 0) == DB_ERR_VERSION, "DBSetFieldIndexed (dialect 1)");
    expect(DBSetBufferAddress(h, text) == 0 || 1, "DBSetBufferAddress");
    expect(DBFlushFile(h) == 0, "DBFlushFile");
    expect(DBPackFile(&h) == 0 && DBGetRecordCount(h, &count) == 0 && count == 2, "DBPackFile");
    expect(DBModifyFile(DBGetFileDescriptor(h), count, 4, fields, 1) == 0, "DBModifyFile");
    expect(DBCloseFile(h) == 0, "DBCloseFile");
    remove(path);
    sprintf(path, "%s/c_host.BAK", dir);
    remove(path);
}

static void expression_and_ntx_calls(const char *dir) {
    char table[256], index[256], key[256], expression[] = "UPPER(NAME)";
    DBEvalResult result;
    DBclIndexInfo info;
    int32_t h = -1, x = -1, n = 0, percent = -1, entries = 0, longest = 0, buffers = 0;
    uint32_t recno = 0;
    double value = 0;
    int16_t number = 0;
    char *made = NULL;
    DBFieldSpec fields[1] = {{"NAME", 'C', 10, 0}};

    sprintf(table, "%s/c_keys.dbf", dir);
    sprintf(index, "%s/c_keys.ntx", dir);
    expect(DBCreateFile(table, 1, fields, 1) == 0 && DBOpenFile(&h, table, 1) == 0, "key table");
    DBClearBuffer(h);
    DBPutStrField(h, 0, "smith");
    DBPutRecord(h, &n, DB_PUT_APPEND);
    expect(DBEvaluateStr(h, "UPPER(NAME)", &result) == 0 && result.type == 'C' &&
               strcmp(result.value, "SMITH     ") == 0, "DBEvaluateStr");
    DBFreeMemory(result.value, "c_host.c", __LINE__);
    expect(DBGetTableInfo(&entries, &longest) == DB_WARN_EMPTY, "DBGetTableInfo");
    expect(DBDeleteParseEntry("NONE(") == DB_WARN_KEY_NOT_FOUND, "DBDeleteParseEntry");
    expect(DBGetEntryStr(key, 0) == DB_WARN_NO_MORE_KEYS, "DBGetEntryStr");
    expect(DBAddParseEntry(NULL, NULL) < 0, "DBAddParseEntry");
    expect(DBProcessTable() < 0 && DBGetValue(&number) < 0, "frame calls outside an evaluation");

    expect(DBclBuildIndex(h, index, 'C', expression, 10, 0) == 0, "DBclBuildIndex");
    expect(DBclOpenIndex(&x, index, 0) == 0, "DBclOpenIndex");
    expect(DBclGetIndexInfo(x, &info) == 0 && info.key_length == 10, "DBclGetIndexInfo");
    expect(DBclGetIndexKeyExpr(x, key) == 0 && strcmp(key, "UPPER(NAME)") == 0,
           "DBclGetIndexKeyExpr");
    expect(DBclGetSetCacheSize(x, &buffers, DB_CACHE_GET) == 0 && buffers >= 3,
           "DBclGetSetCacheSize");
    expect(DBclMakeKey(h, x, &made) == 0 && strcmp(made, "SMITH     ") == 0, "DBclMakeKey");
    expect(DBclAddKey(x, "JONES", 2) == 0, "DBclAddKey");
    strcpy(key, "SMI");
    expect(DBclKeySearch(x, key, &recno, DB_SEARCH_KEY) == 0 && recno == 1, "DBclKeySearch");
    expect(DBclGoFirstKey(x, key, &recno) == 0 && recno == 2, "DBclGoFirstKey");
    expect(DBclGoNextKey(x, key, &recno) == 0 && recno == 1, "DBclGoNextKey");
    expect(DBclGoPreviousKey(x, key, &recno) == 0 && recno == 2, "DBclGoPreviousKey");
    expect(DBclGoLastKey(x, key, &recno) == 0 && recno == 1, "DBclGoLastKey");
    expect(DBclGetCurrentKey(x, key, &recno) == 0 && recno == 1, "DBclGetCurrentKey");
    expect(DBclGetKeyPercent(x, &percent, made, 1) == 0 && percent >= 50 && percent <= 100,
           "DBclGetKeyPercent");
    expect(DBclGetKeyAtPercent(x, 0, key, &recno) == 0 && recno == 2, "DBclGetKeyAtPercent");
    expect(DBclDeleteKey(x, made, 1) == 0, "DBclDeleteKey");
    DBFreeMemory(made, "c_host.c", __LINE__);
    expect(DBclDoubleToKey(x, key, 1.5) == 0, "DBclDoubleToKey");
    expect(DBclKeyToDouble(&value, "0000001.50") == 0 && value == 1.5, "DBclKeyToDouble");
    expect(DBclDateToKey(key, "12/31/1999", 2) == 0 && strcmp(key, "19991231") == 0,
           "DBclDateToKey");
    expect(DBclKeyToDate(key, 7, "19991231") == 0 && strcmp(key, "31.12.1999") == 0,
           "DBclKeyToDate");
    expect(DBclLockIndex(x) == 0 && DBclUnLockIndex(x) == 0 && DBclGetIndexHeader(x) == 0,
           "NTX lock calls on an unshared index");
    expect(DBclFlushIndex(x) == 0 && DBclCloseIndex(x) == 0, "DBclFlushIndex/DBclCloseIndex");
    expect(DBclCreateIndex(index, 'D', expression, 8, 0) == 0, "DBclCreateIndex");
    DBCloseFile(h);
    remove(table);
    remove(index);
}

static void memo_calls(const char *dir) {
    char path[256], table[256], *text = NULL, buffer[16];
    DBxbMemoInfo dbt_info;
    DBfpMemoInfo fpt_info;
    DBFieldSpec fields[1] = {{"NOTE", 'M', 10, 0}};
    int32_t m = -1, h = -1, block = 0, length = 0, picture = -1, n = 0;

    sprintf(path, "%s/c_memo.dbt", dir);
    expect(DBxbCreateMemo(path, 1, 1) == 0 && DBxbOpenMemo(&m, path, 1) == 0, "DBxbOpenMemo");
    expect(DBxbPutMemoRecord(m, &block, "hello", 0) == 0 && block > 0, "DBxbPutMemoRecord");
    expect(DBxbGetMemoRecord(m, block, &text, 0) == 0 && strcmp(text, "hello") == 0,
           "DBxbGetMemoRecord");
    DBFreeMemory(text, "c_host.c", __LINE__);
    expect(DBxbGetMemoInfo(m, &dbt_info) == 0 && dbt_info.block_length == 512, "DBxbGetMemoInfo");
    expect(DBxbLockMemo(m) == 0 && DBxbUnLockMemo(m) == 0 && DBxbGetMemoHeader(m) == 0,
           "DBT lock calls");
    sprintf(table, "%s/c_memo.dbf", dir);
    expect(DBCreateFile(table, 1, fields, 1) == 0 && DBOpenFile(&h, table, 1) == 0, "memo table");
    DBClearBuffer(h);
    DBPutFieldData(h, 0, &block);
    DBPutRecord(h, &n, DB_PUT_APPEND);
    expect(DBxbPackMemo(h, &m) == 0, "DBxbPackMemo");
    expect(DBxbCloseMemo(m) == 0, "DBxbCloseMemo");

    sprintf(path, "%s/c_memo.fpt", dir);
    block = 0;
    expect(DBfpCreateMemo(path, 64) == 0 && DBfpOpenMemo(&m, path, 0) == 0, "DBfpOpenMemo");
    expect(DBfpPutMemoRecord(m, &block, "bytes", 5, 5, 0) == 0 && block > 0, "DBfpPutMemoRecord");
    expect(DBfpGetMemoType(m, block, &length, &picture) == 0 && length == 5 && picture == 0,
           "DBfpGetMemoType");
    expect(DBfpGetMemoRecord(m, block, &text, 100, 0) == 0 && strcmp(text, "bytes") == 0,
           "DBfpGetMemoRecord");
    DBFreeMemory(text, "c_host.c", __LINE__);
    expect(DBfpGetMemoToBuffer(m, block, buffer, 10, 0) == 0 && strcmp(buffer, "bytes") == 0,
           "DBfpGetMemoToBuffer");
    expect(DBfpGetMemoInfo(m, &fpt_info) == 0 && fpt_info.block_size == 64, "DBfpGetMemoInfo");
    expect(DBfpLockMemo(m) == 0 && DBfpUnLockMemo(m) == 0 && DBfpGetMemoHeader(m) == 0,
           "FPT lock calls");
    DBGetRecord(h, 1);
    DBPutFieldData(h, 0, &block);
    DBPutRecord(h, &block, DB_PUT_UPDATE);
    expect(DBfpPackMemo(h, &m) == 0, "DBfpPackMemo");
    expect(DBfpCloseMemo(m) == 0, "DBfpCloseMemo");
    DBCloseFile(h);
}

int main(int argc, char **argv) {
    const char *dir = argc > 1 ? argv[1] : ".";
    core_calls();
    file_calls(dir);
    date_calls();
    table_calls(dir);
    expression_and_ntx_calls(dir);
    memo_calls(dir);
    DBTerminate();
    printf("%d failures\n", failures);
    return failures ? 1 : 0;
}
