/* A host program in plain C99 that knows the library only through xbdb.h: it calls
 * every exported function once with the declared types and checks the basics, so
 * that a prototype, a type or an exported name that drifts breaks this build. */
#include <stdio.h>
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

int main(int argc, char **argv) {
    const char *dir = argc > 1 ? argv[1] : ".";
    core_calls();
    file_calls(dir);
    date_calls();
    DBTerminate();
    printf("%d failures\n", failures);
    return failures ? 1 : 0;
}
