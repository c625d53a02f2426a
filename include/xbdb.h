/* xbdb.h - public C interface of the xbdb xBase database engine library.
 *
 * Every exported function returns an int32_t status equal to DBerrno (0 success,
 * negative error, positive warning) unless its comment says otherwise; callers test
 * for failure with "< 0". Buffers that the library hands out are released with
 * DBFreeMemory.
 */
#ifndef XBDB_H
#define XBDB_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ======================================================================= constants */
/* ---- Handles and tag handles ---- */
#define DB_NO_HANDLE            (-1)      /* "no handle"; stored by failed opens */
#define DB_TAG_HANDLE(slot, file) \
        ((int32_t)(((uint32_t)(slot) << 16) | ((uint32_t)(file) & 0xFFFFu)))
#define DB_TAG_SLOT(tag)        ((int32_t)(((uint32_t)(tag) >> 16) & 0xFFFFu))
#define DB_TAG_FILE(tag)        ((int32_t)((uint32_t)(tag) & 0xFFFFu))
/* ---- File kinds ---- */
#define DB_KIND_FREE            0   /* slot not in use */
#define DB_KIND_DBF             1   /* DBF table */
#define DB_KIND_NDX             2   /* NDX index */
#define DB_KIND_DBT             3   /* DBT memo */
#define DB_KIND_FPT             4   /* FPT memo */
#define DB_KIND_MDX             5   /* MDX index */
#define DB_KIND_IDX_SINGLE      6   /* single compact index (accepted, never allocated) */
#define DB_KIND_NTX             7   /* NTX index */
#define DB_KIND_CDX             8   /* CDX or IDX compact index */
/* ---- Open-mode bits, dialects and create flags ---- */
#define DB_OPEN_DIALECT_MASK       0x00FF  /* low byte: table/memo dialect or index mode byte */
#define DB_OPEN_READONLY           0x0100
#define DB_OPEN_UNBUFFERED         0x0200  /* unbuffered, write-through (flushed; MDX: not flushed) */
#define DB_OPEN_SHARED             0x0400  /* byte-range locks in force */
#define DB_OPEN_AUTOLOCK           0x0800  /* implies 0x200 | 0x400; dropped with 0x100 */
#define DB_OPEN_UNBUFFERED_NOFLUSH 0x1000  /* unbuffered without flushing (not MDX) */
#define DB_OPEN_MULTILOCK          0x2000  /* several record locks at once (tables, shared) */

#define DB_DIALECT_MIN             0       /* table dialects 0..10; 0 means 1 on open */
#define DB_DIALECT_MAX             10
#define DB_CREATE_PRODUCTION       0x0200  /* OR-ed into DBCreateFile/DBModifyFile dialect and
                                              DBd4CreateIndex flags: production index */
#define DB_FIELD_INDEXED           0x0100  /* DBFieldSpec.type bit: set indexed-field flag */
/* ---- Record, cache and seek commands ---- */
#define DB_PUT_APPEND           0x000   /* DBPutRecord / DBPutRecordFromBuffer */
#define DB_PUT_UPDATE           0x100
#define DB_CACHE_SET            0       /* all ...GetSetCacheSize functions */
#define DB_CACHE_GET            1
#define DB_SEEK_SET             0       /* DBSetFilePosition origins */
#define DB_SEEK_CUR             1
#define DB_SEEK_END             2
#define DB_DELETED_MARK         '*'     /* deletion byte of a deleted record */
#define DB_ACTIVE_MARK          ' '     /* deletion byte of an active record */
/* ---- Lock modes, lock states and lock-information kinds ---- */
#define DB_LOCK_EXCLUSIVE       0       /* DBosLockData / DBfpLockIndex mode */
#define DB_LOCK_RELEASE         1
#define DB_LOCK_SHARED          2
#define DB_LOCKSTATE_NONE       0x00    /* table lock_state values and bits */
#define DB_LOCKSTATE_RECORD     0x01
#define DB_LOCKSTATE_HEADER     0x02
#define DB_LOCKSTATE_FILE       0x04    /* also: index/memo "locked" */
#define DB_LOCKINFO_RECORD      1       /* DBLockInfo.kind */
#define DB_LOCKINFO_HEADER      2
#define DB_LOCKINFO_FILE        4
#define DB_INFO_READONLY        0x01    /* flags/state bits of the information records */
#define DB_INFO_SHARED          0x02
#define DB_INFO_UNBUFFERED      0x04
/* ---- Search modes ---- */
#define DB_SEARCH_KEY           1   /* key only (prefix for character keys): 0 hit; 204 miss,
                                       positioned on the key before; 203 none before; 202 empty */
#define DB_SEARCH_KEY_RECNO     2   /* key (full length) and record number */
#define DB_SEARCH_LAST_LE       3   /* compact only (DBfp/DBfb): last key not greater */
#define DB_SEARCH_BEFORE        11  /* positioned on the key before the first match */
#define DB_SEARCH_AT_OR_BEFORE  12  /* 0 on a hit or a miss with a key before it */
#define DB_SEARCH_KEY_STRICT    13  /* as 1, but 203 becomes 204 */
#define DB_SEARCH_AT_OR_AFTER   14  /* first key at or after the search key */
#define DB_SEARCH_AFTER         15  /* first key after the search key's value */
/* ---- Key-type flags and index options ---- */
#define DB_KEY_UNIQUE           0x80    /* NTX/NDX create key_type: unique */
#define DB_KEYFLAG_UNIQUE       0x80    /* NTX/NDX info key_flags */
#define DB_KEYFLAG_DESCENDING   0x100   /* NTX info key_flags */
#define DB_D4_DESCENDING        0x80    /* MDX tag type argument and DBd4TagInfo.options */
#define DB_D4_UNIQUE            0x100
#define DB_FP_UNIQUE            0x80    /* compact type argument and info options */
#define DB_FP_DESCENDING        0x100
#define DB_FP_COMPACT           0x400
#define DB_FP_COMPOUND          0x800
#define DB_FP_TYPE_UNCOMPRESSED 3       /* DBfbIndexInfo.index_type */
#define DB_FP_TYPE_COMPACT      8
/* ---- Memo flags ---- */
#define DB_DBT_STRIP_SOFT       0x100   /* DBxbGetMemoRecord: remove soft line breaks */
#define DB_DBT_REPLACE          0x100   /* DBxbPutMemoRecord: replace in place when it fits */
#define DB_DBT_LINE_MASK        0x0FF   /* DBxbPutMemoRecord: soft line length (0, 10..132) */
#define DB_FPT_PICTURE          0x01    /* DBfpPutMemoRecord: kind 0 (picture) */
#define DB_FPT_PIECES           0x02    /* DBfpGet/PutMemo...: transfer in pieces */
#define DB_FPT_REPLACE          0x100   /* DBfpPutMemoRecord: replace in place when it fits */
#define DB_FPT_MORE             1       /* status/DBerrno while a piecewise get has more data */
/* ---- Date and time styles ---- */
#define DB_DATE_MDY_SLASH_YY     1   /* mm/dd/yy */
#define DB_DATE_MDY_SLASH_YYYY   2   /* mm/dd/yyyy */
#define DB_DATE_YEAR_DAY         3   /* yyyy/ddd */
#define DB_DATE_YYYYMMDD         4   /* yyyymmdd: the DBF storage form */
#define DB_DATE_DDMMYY           5   /* ddmmyy */
#define DB_DATE_DMY_DOT_YY       6   /* dd.mm.yy */
#define DB_DATE_DMY_DOT_YYYY     7   /* dd.mm.yyyy */
#define DB_DATE_DMY_SLASH_YY     8   /* dd/mm/yy */
#define DB_DATE_DMY_SLASH_YYYY   9   /* dd/mm/yyyy */
#define DB_DATE_DMY_SLASH_YY_B   10  /* same text as 8 */
#define DB_DATE_DMY_SLASH_YYYY_B 11  /* same text as 9 */
#define DB_DATE_DMY_DASH_YY      12  /* dd-mm-yy */
#define DB_DATE_DMY_DASH_YYYY    13  /* dd-mm-yyyy */
#define DB_DATE_YMD_DOT_YY       14  /* yy.mm.dd */
#define DB_DATE_YMD_DOT_YYYY     15  /* yyyy.mm.dd */
#define DB_TIME_HHMMSS           1   /* hh:mm:ss */
#define DB_TIME_HHMM             2   /* hhmm */
/* ---- Buffer sizes ---- */
#define DB_VERSION_LEN          16   /* DBGetVersion buffer, DBvers */
#define DB_LOGNAME_LEN          30   /* DBlog_filename */
#define DB_NAME_LEN             80   /* file names in packets and information records */
#define DB_FIELDSPEC_NAME_LEN   12   /* DBFieldSpec.name */
#define DB_FIELD_NAME_LEN       11   /* DBGetFieldName output */
#define DB_DATE_TEXT_LEN        11   /* date text outputs */
#define DB_DAY_NAME_LEN         10   /* day- and month-name outputs */
#define DB_STYLE_NAME_LEN       23   /* DBGetDefaultDateStyle name output */
#define DB_TIME_TEXT_LEN        9    /* time text outputs */
#define DB_INFO_EXPR_LEN        100  /* expression field of NTX/NDX/MDX information records */
#define DB_FP_EXPR_LEN          220  /* expression field of compact information records */
#define DB_FP_FOR_LEN           512  /* FOR-expression field of compact information records */
#define DB_MAX_KEY_LEN          200  /* longest key of any index family */
/* ---- Error and warning codes ---- */
#define DB_OK                          0

#define DB_ERR_WRITE                (-201)  /* file write failure */
#define DB_ERR_READ                 (-202)  /* file read failure */
#define DB_ERR_MEMORY               (-203)  /* memory allocation error */
#define DB_ERR_SEEK                 (-204)  /* file pointer reposition failed */
#define DB_ERR_FILE_NOT_FOUND       (-205)
#define DB_ERR_CORRUPT              (-206)  /* file corrupted */
#define DB_ERR_KEY_EXPR             (-207)  /* bad key expression */
#define DB_ERR_NO_HANDLES           (-208)
#define DB_ERR_NO_PAGES             (-209)  /* no index pages loaded */
#define DB_ERR_PAGE_NOT_LOADED      (-210)
#define DB_ERR_CLOSE                (-211)  /* (never raised) */
#define DB_ERR_COMMAND              (-212)  /* invalid command */
#define DB_ERR_HANDLE               (-213)  /* invalid handle number */
#define DB_ERR_FILENAME             (-214)
#define DB_ERR_DATE                 (-215)
#define DB_ERR_TIME                 (-216)
#define DB_ERR_NOT_MEMO             (-217)  /* file not in memo format */
#define DB_ERR_VERSION              (-218)  /* invalid version / dialect / mode byte */
#define DB_ERR_HEADER_LENGTH        (-219)
#define DB_ERR_UPDATE_DATE          (-220)  /* last file change date in error */
#define DB_ERR_NULL                 (-221)  /* parameter address NULL */
#define DB_ERR_KEY_TYPE             (-222)
#define DB_ERR_KEY_LENGTH           (-223)
#define DB_ERR_ITEM_LENGTH          (-224)
#define DB_ERR_ROOT_PAGE            (-225)
#define DB_ERR_MAX_KEYS             (-226)
#define DB_ERR_FIELD_COUNT          (-227)  /* invalid number of fields / field number */
#define DB_ERR_FIELD_NAME           (-228)
#define DB_ERR_FIELD_LENGTH         (-229)
#define DB_ERR_DECIMALS             (-230)
#define DB_ERR_FIELD_TYPE           (-231)
#define DB_ERR_RECORD_LENGTH        (-232)
#define DB_ERR_BAD_DATA             (-233)
#define DB_ERR_MEMO_LINE_LENGTH     (-234)
#define DB_ERR_PRODUCTION_FLAG      (-235)  /* MDX flag in DBF file invalid */
#define DB_ERR_READ_ONLY            (-236)
#define DB_ERR_LOCK_VIOLATION       (-237)
#define DB_ERR_SHARING_OVERFLOW     (-238)
#define DB_ERR_PATH_NOT_FOUND       (-239)
#define DB_ERR_ACCESS_DENIED        (-240)
#define DB_ERR_ACCESS_CODE          (-241)  /* (never raised) */
#define DB_ERR_NOT_LOCKED           (-242)  /* file must be locked first */
#define DB_ERR_DISK_CHANGED         (-243)  /* (never raised) */
#define DB_ERR_MIN_KEYS             (-244)
#define DB_ERR_FILES_OPEN           (-245)  /* (never raised) */
#define DB_ERR_OPEN_FAILED          (-246)  /* could not open the file */
#define DB_ERR_FLUSH                (-247)  /* (never raised) */
#define DB_ERR_TAG_HANDLE           (-248)
#define DB_ERR_PAGE_SIZE            (-249)  /* invalid page size in blocks */
#define DB_ERR_TAG_NAME             (-250)
#define DB_ERR_PAGE_ADDER           (-251)
#define DB_ERR_TAG_CAPACITY         (-252)  /* invalid maximum number of tag table elements */
#define DB_ERR_TAG_ENTRY_LENGTH     (-253)
#define DB_ERR_TAG_COUNT            (-254)
#define DB_ERR_KEY_FORMAT           (-255)  /* unknown key format switches */
#define DB_ERR_SWITCH               (-256)  /* unknown switch error */
#define DB_ERR_TAG_IN_USE           (-257)
#define DB_ERR_PLATFORM_LOCK        (-258)  /* (never raised) */
#define DB_ERR_PLATFORM_TASK        (-259)  /* (never raised) */
#define DB_ERR_LOCK_TABLE_FULL      (-260)  /* internal lock buffer overflow */
#define DB_ERR_LOCK_TABLE_UNDERFLOW (-261)
#define DB_ERR_RECNO_WIDTH          (-6000) /* compact leaf cannot store the record number;
                                               no message ("Unknown error or warning code") */

#define DB_WARN_DELETED              201    /* record read is marked deleted */
#define DB_WARN_EMPTY                202    /* file is empty; also the empty-date result */
#define DB_WARN_NO_MORE_KEYS         203
#define DB_WARN_KEY_NOT_FOUND        204    /* also: delete of a missing file */
#define DB_WARN_TRUNCATED            205    /* data field truncated */
#define DB_WARN_ROUNDED              206    /* (never raised) */
#define DB_WARN_FILE_LENGTH          207
#define DB_WARN_NOT_BUFFERED         208
#define DB_WARN_PARTIAL_ALLOC        209
#define DB_WARN_NOT_SUPPORTED        210    /* (never raised) */
#define DB_WARN_EXISTS               211    /* object already exists */
#define DB_WARN_FIELD_EMPTY          212

/* Untranslated host errors are errno | 0xC0000000 (negative, below every code above). */
#define DB_HOST_ERROR_BITS          0xC0000000u
#define DB_IS_HOST_ERROR(code) \
        ((int32_t)(code) < -6000 && \
         (((uint32_t)(code)) & DB_HOST_ERROR_BITS) == DB_HOST_ERROR_BITS)
#define DB_HOST_ERRNO(code)         ((int32_t)(((uint32_t)(code)) & 0x3FFFFFFFu))

/* ====================================================================== structures */

/* Field specification: DBCreateFile, DBModifyFile, DBGetFileDescription,
   DBGetFieldDescription. */
typedef struct DBFieldSpec {
    char    name[12];     /* at most 10 characters and NUL */
    int32_t type;         /* type letter (or type byte 1,2,3,4,11,13) in the low byte, widened
                             with its sign; bit 8 (0x100, DB_FIELD_INDEXED) asks DBCreateFile
                             to set the indexed-field flag */
    int32_t length;       /* field width (C fields up to 2048 in dialect 6) */
    int32_t decimals;     /* for a C field wider than 255: the high byte of the length */
} DBFieldSpec;

/* File information: DBGetFileInfo. */
typedef struct DBFileInfo {
    uint32_t flags;       /* bit 0 read-only, bit 1 shared, bit 2 unbuffered (DB_INFO_*);
                             hosts test only these bits */
    char     name[80];    /* file name as opened, NUL-terminated */
    int32_t  dialect;     /* 0..127: the dialect without the memo bit */
    int32_t  memo;        /* 1 when the table has memo fields, else 0 */
    int32_t  production;  /* header byte 28 (production-index flag) */
    int32_t  byte14;      /* header byte 14 (transaction flag) */
    int32_t  byte15;      /* header byte 15 (encryption flag) */
    int32_t  lock_state;  /* bit 0 record lock(s), bit 1 header lock; 4 = whole file */
    int32_t  lock_count;  /* exclusive locks held */
} DBFileInfo;

/* Record information: DBGetRecordInfo. */
typedef struct DBRecordInfo {
    int32_t record_length; /* bytes, deletion byte included */
    int32_t field_count;
    char   *buffer;        /* address of the table's record buffer (library-owned unless
                              set by DBSetBufferAddress) */
} DBRecordInfo;

/* Lock-information pair: elements of the array allocated by DBGetLockInfo. */
typedef struct DBLockInfo {
    int32_t kind;          /* 1 record, 2 header, 4 whole file (DB_LOCKINFO_*) */
    int32_t record;        /* record number for kind 1; meaningless for kinds 2 and 4 */
} DBLockInfo;

/* Evaluation result: filled by DBEvaluateStr (same layout as the internal DBeval_pr). */
typedef struct DBEvalResult {
    char   *value;   /* buffer from the library's allocator; caller frees it with
                        DBFreeMemory. 'C'/'D': NUL-terminated text; 'N'/'F': a double;
                        'L': one byte; 'M': a 32-bit block number. Null after a failure. */
    int16_t type;    /* 'C', 'N', 'F', 'D', 'L' or 'M'; ' ' while nothing was evaluated */
    int16_t length;  /* text length for 'C' and 'D'; 8, 1 or 4 for the others */
} DBEvalResult;

/* Evaluation frame (internal DBeval_fr): a registered function receives a pointer to it. */
typedef struct DBEvalFrame {
    char   *value;   /* the term's value: the function leaves a buffer from the library's
                        allocator here */
    int16_t type;    /* the term's type letter */
    int16_t length;  /* the term's length */
    char   *cursor;  /* next unread character of the expression text; the function leaves it
                        just after its closing parenthesis (it must not write through it) */
} DBEvalFrame;

/* Host function registered with DBAddParseEntry: returns 0 or a negative code, which
   becomes DBerrno and the term's status. */
typedef int32_t (*DBParseFunction)(DBEvalFrame *frame);

/* NTX: DBclGetIndexInfo. */
typedef struct DBclIndexInfo {
    char    name[80];        /* file name as given at open */
    uint8_t state;           /* bit 0 read-only, bit 1 shared, bit 2 unbuffered; the other
                                bits are left as the caller had them */
    int32_t key_length;
    int32_t key_type;        /* NTX reports '?' (0x3F) */
    int32_t key_flags;       /* 0x80 unique, 0x100 descending (expression begins "DESCEND") */
    int32_t decimals;
    int32_t lock_state;      /* 4 while the index lock is held, else 0 */
    int32_t expr_length;     /* length of the key expression */
    char    expression[100]; /* expression and NUL, cut to 100 bytes (no NUL if >= 100 chars) */
} DBclIndexInfo;

/* NDX: DBd3GetIndexInfo (as NTX without the decimals field). */
typedef struct DBd3IndexInfo {
    char    name[80];
    uint8_t state;           /* as DBclIndexInfo.state */
    int32_t key_length;
    int32_t key_type;        /* 'C' for type 0, 'N' for type 1, else the type number 2..6 */
    int32_t key_flags;       /* 0x80 unique */
    int32_t lock_state;
    int32_t expr_length;
    char    expression[100];
} DBd3IndexInfo;

/* MDX file: DBd4GetIndexInfo. */
typedef struct DBd4IndexInfo {
    int32_t tag_count;       /* tags in use */
    uint8_t state;           /* option bits: 0x01 read-only, 0x02 shared, 0x04 write-through;
                                the other bits are left as the caller had them */
    char    name[80];        /* file name */
    int32_t lock_state;      /* 0 or 4 */
} DBd4IndexInfo;

/* MDX tag: DBd4GetTagInfo, elements of the DBd4GetAllTagInfo array. */
typedef struct DBd4TagInfo {
    char    name[12];        /* NUL-terminated */
    int32_t key_length;
    int32_t key_type;        /* 'C', 'D' or 'N' */
    int32_t options;         /* 0x80 descending, 0x100 unique, otherwise 0 */
    int32_t expr_length;     /* characters */
    char    expression[100]; /* first 100 bytes of the text and its NUL (none if >= 100) */
} DBd4TagInfo;

/* Compact file: DBfpGetIndexInfo (the MDX file record without the tag count). */
typedef struct DBfpIndexInfo {
    uint8_t state;           /* as DBd4IndexInfo.state */
    char    name[80];
    int32_t lock_state;      /* 0 or 4 */
} DBfpIndexInfo;

/* Compact single index: DBfbGetIndexInfo. */
typedef struct DBfbIndexInfo {
    char    name[80];             /* file name */
    uint8_t state;                /* option bits: 0x01 read-only, 0x02 shared,
                                     0x04 write-through */
    int32_t key_length;
    int32_t key_type;             /* key type character ('?' until declared) */
    int32_t options;              /* 0x80 unique, 0x400 compact, 0x100 descending */
    int32_t index_type;           /* 3 uncompressed IDX, 8 compact (DB_FP_TYPE_*) */
    int32_t lock_state;
    int32_t expr_length;
    char    expression[220];      /* key expression and NUL */
    char    for_expression[512];  /* FOR expression, empty when none */
} DBfbIndexInfo;

/* Compact tag: DBfpGetTagInfo, elements of the DBfpGetAllTagInfo array. */
typedef struct DBfpTagInfo {
    char    name[12];
    int32_t key_length;
    int32_t key_type;             /* '?' in DBfpGetAllTagInfo records */
    int32_t options;              /* 0x80 unique, 0x400 compact, 0x100 descending */
    int32_t expr_length;
    char    expression[220];      /* at most 220 bytes of text and NUL */
    char    for_expression[512];  /* empty when the tag has none */
} DBfpTagInfo;

/* DBT: DBxbGetMemoInfo. */
typedef struct DBxbMemoInfo {
    uint32_t flags;        /* bits 0..2 set by the call (0 read-only, 1 shared, 2 unbuffered);
                              the other bits are left as the caller had them */
    char     name[80];
    int32_t  dialect;      /* memo dialect */
    int32_t  lock_state;   /* 0 or 4 */
    int32_t  block_length; /* bytes */
} DBxbMemoInfo;

/* FPT: DBfpGetMemoInfo. */
typedef struct DBfpMemoInfo {
    uint32_t flags;        /* as DBxbMemoInfo.flags */
    char     name[80];
    int32_t  lock_state;   /* 0 or 4 */
    int32_t  block_size;   /* bytes */
} DBfpMemoInfo;

/* ========================================================================= globals */

/* Globals that hosts read or set */
extern int32_t     DBerrno;            /* last status: 0, negative error, positive warning */
extern char        DBvers[16];         /* "3.22 (19920301)" (15 characters and NUL) */
extern int32_t     DBdate_style;       /* default date style 1..15 */
extern int32_t     DBlock_retry;       /* lock tries with 1-second waits; initially 0 */
extern int32_t     DBsamba;            /* 1 when DB_SAMBA asked for folded lock offsets */
extern int32_t     DBlog_errs;         /* non-zero: failures appended to the error log */
extern char        DBlog_filename[30]; /* error-log path, at most 29 characters and NUL */
extern const char *const vk_styles[15];/* date-style names; vk_styles[s - 1] names style s */
extern const char  DBcopyr[];          /* fixed banner text (wording is the implementer's) */
extern uint8_t     vk_mdxhdr[48];      /* 48-byte buffer of the MDX header-image size; unused */

/* Further globals whose effects hosts can observe */
extern int16_t     vk_read_length;     /* byte count of the most recent DBosReadData */
extern int8_t      DBdpm[13];          /* days per month, [0] = 0, [1..12]; [2] rewritten by
                                          every leap-year test */
extern const char *const vk_daystr[7]; /* "Sunday" .. "Saturday" */
extern const char *const vk_monstr[12];/* "January" .. "December"; vk_monstr[m - 1] */

/* ======================================================================= functions */

/* ---- lifecycle, settings, memory ---- */
int32_t DBInitialize(int32_t files, uint8_t date_style);
        /* files: requested file count; below 5 -> -213; capped at 512; handle slots = files - 5.
           date_style: default date style 1..15 (0 or >15 becomes 1). Call before anything else. */
void    DBTerminate(void);
        /* no result: closes every open handle through its family's close, frees all tables */
int32_t DBGetVersion(char *buffer);
        /* out: buffer of at least 16 bytes receives DBvers ("3.22 (19920301)") */
int32_t DBSetLockRetryCount(int32_t count);
        /* stores count in DBlock_retry (tries with 1-second waits; <= 0: one try, no wait) */
int32_t DBGetLockRetryCount(int32_t *count);
        /* out: DBlock_retry */
int32_t DBGetLockCount(int32_t *used, int32_t *capacity);
        /* out, out: entries in use and capacity of the process lock table */
int32_t DBSetLockCount(int32_t capacity);
        /* resizes the process lock table; below the entries in use -> -261 (not logged) */
int32_t getDBsamba(void);
        /* returns DBsamba (not a status) */
int32_t DBGetFileDescriptor(int32_t handle);
        /* returns the host descriptor of the open table handle (not a status), or -213 */
int32_t DBAllocateMemoryLog(void *pointer_address, int32_t size,
                            const char *source_name, int32_t line);
        /* pointer_address: address of the caller's pointer variable (any object pointer
           type); receives the new block or null. source_name/line: accepted, ignored.
           Returns 0, or -203 on allocation failure. */
int32_t DBReAllocateMemory(void *pointer_address, int32_t size,
                           const char *source_name, int32_t line);
        /* in/out pointer_address: as above; the pointer is replaced only on success;
           on failure the old block stays and -203 is returned */
int32_t DBFreeMemory(void *pointer, const char *source_name, int32_t line);
        /* releases a block from the library's allocator; returns 0 */

/* ---- error codes and error log ---- */
int32_t     DBGetErrorCode(void);                 /* returns DBerrno */
int32_t     DBSetErrorCode(int32_t code);         /* sets DBerrno = code, returns code */
const char *DBGetErrorStr(void);
        /* returns the library-owned, constant message for the current DBerrno
           (not a status); never null; must not be changed or freed */
int32_t     DBErrorLog(int32_t on, const char *name);
        /* on: 0 logging off; exactly 1 on and name copied to DBlog_filename (<= 29 chars);
           any other non-zero value on, name ignored (may then be null).
           Returns DBerrno unchanged. */

/* ---- host file operations ---- */
int32_t DBosCreateFile(int32_t *descriptor, const char *name);
        /* out descriptor (-1 on failure); creates or truncates, mode 0777 less umask */
int32_t DBosOpenFile(int32_t *descriptor, const char *name, int32_t mode, uint8_t *flags);
        /* out descriptor (-1 on failure); mode: open-mode word (0x100 read-only,
           0x400 shared); in/out flags: bit 0 := (mode & 0x100 ? 1 : 0),
           bit 2 := (mode & 0x400 ? 1 : 0), other bits of the byte left unchanged */
int32_t DBosCloseFile(int32_t descriptor);
int32_t DBosReadData(int32_t descriptor, void *buffer, uint16_t count);
        /* out buffer: count bytes at the current position; a short read is -202;
           the byte count read is left in vk_read_length */
int32_t DBosWriteData(int32_t descriptor, const void *buffer, int32_t count, int16_t flush);
        /* flush non-zero: DBosFlushFile after a successful write; short write -201 (not logged) */
int32_t DBosSetFilePosition(int32_t descriptor, int32_t position);
        /* position: byte offset from the start of the file */
int32_t DBosGetFilePosition(int32_t descriptor, int32_t *position);
        /* out position (-1 on failure) */
int32_t DBosFileLength(int32_t descriptor, int32_t *length);
        /* out length; sets DBerrno = 0 first; current position unchanged */
int32_t DBosSetFileSize(int32_t descriptor, int32_t size);
        /* cuts or zero-extends the file to exactly size bytes */
int32_t DBosEndOfFile(int32_t descriptor, uint8_t *at_end);
        /* out at_end: 1 when position >= length, else 0 */
int32_t DBosFlushFile(int32_t descriptor);
        /* does nothing; returns DBerrno */
int32_t DBSetFilePosition(int32_t handle, int32_t offset, int32_t origin);
        /* handle: an open TABLE handle; origin 0 start, 1 current, 2 end (DB_SEEK_*);
           returns the new position (not a status), or a negative code */

/* ---- byte-range locks ---- */
int32_t DBosLockData(int32_t descriptor, int32_t mode, uint32_t offset, int32_t length);
        /* mode: 0 exclusive, 1 release, 2 shared (DB_LOCK_*); offset: any value up to
           0xFFFFFFFF (folded when DBsamba is set); retries per DBlock_retry */
int32_t DBosTestLock(int32_t descriptor, uint32_t offset, int32_t length);
        /* returns 1 if the process lock table holds exactly (offset, descriptor, length),
           else 0 (not a status; asks the host nothing) */

/* Value forms of the typed field calls (DBGetFieldData, DBPutFieldData and the named
   forms): the value pointer points to
     type bytes 1, 2          int16_t
     type bytes 3, 4, 11, I   int32_t (little-endian field bytes)
     type byte 13             8 bytes
     C                        get: char[width + 1]; put: NUL-terminated text
     D                        get: char[11], the date in DBdate_style; put: date text
     F, N, B                  double (B in dialect 10 with width 8: a binary double)
     L                        one char: get 1, 0 or '?' (blank); put T t Y y 0x01 /
                              F f N n 0x00 / space or '?'
     M                        get int32_t, put uint32_t: the memo block number
     T, Y                     8 bytes (uint32_t[2]), each word byte-reversed
   The host record structure of DBGetRecordToBuffer / DBPutRecordFromBuffer is a packed
   byte sequence: the deletion byte, then per field C width + 1 bytes, D 11, M 4,
   F and N 8 (a double, possibly unaligned), any other type width bytes. */

/* ---- create, open, close, flush, information ---- */
int32_t DBCreateFile(const char *name, int32_t count, DBFieldSpec *fields, int32_t dialect);
        /* in/out fields: array of count specifications, rewritten by the call (names and
           type letters upper-cased, forced lengths/decimals stored);
           dialect: 0..9, optionally | 0x200 (DB_CREATE_PRODUCTION) to set the
           production-index flag. Creates the file and closes it. */
int32_t DBOpenFile(int32_t *handle, const char *name, int32_t mode);
        /* out handle (-1 on failure); mode: dialect 0..10 in the low byte | DB_OPEN_* bits.
           Returns 0, warning 207, or an error. */
int32_t DBCloseFile(int32_t handle);
int32_t DBFlushFile(int32_t handle);
        /* 208 (warning) for an unbuffered table; -236 for a read-only table */
int32_t DBGetFileHeader(int32_t handle);
        /* shared table: re-reads the record count */
int32_t DBSetProductionIndex(int32_t handle, int32_t flag);
        /* flag: the character '1' sets header byte 28 to 1; any other value sets 0 */
int32_t DBSetFieldIndexed(int32_t handle, int16_t field);
        /* sets the indexed-field flag of 0-based field (dialect 2 with production flag) */
int32_t DBGetFileInfo(int32_t handle, DBFileInfo *info);                  /* out info */
int32_t DBGetFileDescription(int32_t handle, int32_t *longest, DBFieldSpec *fields);
        /* out longest: greatest field width (not the field count);
           out fields: caller's array with room for the field count (see DBGetRecordInfo) */
int32_t DBGetFieldDescription(int32_t handle, int16_t field, DBFieldSpec *spec); /* out spec */
int32_t DBGetRecordInfo(int32_t handle, DBRecordInfo *info);              /* out info */
int32_t DBGetLastUpdate(int32_t handle, char *text, int32_t style);
        /* out text (>= 11 bytes): header date in date style 1..15 */

/* ---- record buffer, cache and record I/O ---- */
int32_t DBSetBufferAddress(int32_t handle, char *buffer);
        /* the caller's buffer (>= record length bytes) becomes the record buffer;
           it stays the caller's and is never freed by the library */
int32_t DBClearBuffer(int32_t handle);                      /* fills the record buffer with blanks */
int32_t DBGetRecordNumber(int32_t handle, int32_t *number); /* out: current record number */
int32_t DBGetRecordCount(int32_t handle, int32_t *count);   /* out: record count */
int32_t DBIsBeginningOfFile(int32_t handle);
        /* returns 1 if the current record number is below 2, else 0 */
int32_t DBIsEndOfFile(int32_t handle);
        /* returns 1 if the current record number equals the record count, else 0 */
int32_t DBIsRecordDeleted(int32_t handle);
        /* returns 201 (and sets DBerrno) if byte 0 of the record buffer is '*',
           otherwise DBerrno unchanged */
int32_t DBGetRecord(int32_t handle, int32_t number);
        /* reads record number (1..count) into the record buffer; 201 if deleted */
int32_t DBGetRecordToBuffer(int32_t handle, void *host_buffer, int32_t number);
        /* as DBGetRecord; when host_buffer is not null, also converts every field into the
           host record structure (layout below) */
int32_t DBPutRecord(int32_t handle, int32_t *number, int32_t command);
        /* command 0 (DB_PUT_APPEND): appends the record buffer, out number = new record;
           command 0x100 (DB_PUT_UPDATE): in number = record to rewrite */
int32_t DBPutRecordFromBuffer(int32_t handle, void *host_buffer, int32_t *number,
                              int32_t command);
        /* as DBPutRecord; when host_buffer is not null, the record buffer is first built from
           the host record structure (which the library only reads) */
int32_t DBMarkRecordInActive(int32_t handle, int32_t number);  /* deletion byte := '*' */
int32_t DBMarkRecordActive(int32_t handle, int32_t number);    /* deletion byte := ' ' */
int32_t DBGetSetCacheSize(int32_t handle, int32_t *records, int32_t command);
        /* command 1 (DB_CACHE_GET): out records = cache capacity in records;
           command 0 (DB_CACHE_SET): in/out records = new capacity (< 1 becomes 1; value used
           stored back); unbuffered table: stores 0 */

/* ---- field access and conversion ---- */
int32_t DBGetFieldData(int32_t handle, int16_t field, void *value);
        /* out value: host form of the field's own type (see "Value forms" above); 212 if blank */
int32_t DBGetStrField(int32_t handle, int16_t field, char *text);
        /* out text: field width + 1 bytes, raw field text and NUL */
int32_t DBGetNamedData(int32_t handle, const char *name, void *value);   /* out value */
int32_t DBGetNamedStr(int32_t handle, const char *name, char *text);     /* out text */
int32_t DBPutFieldData(int32_t handle, int16_t field, void *value);
        /* in value: host form of the field's own type (see "Value forms" above); the caller's
           buffer is only read (declared non-const for compatibility) */
int32_t DBPutStrField(int32_t handle, int16_t field, const char *text);
        /* text put with code 'C'; longer than the width: cut, warning 205 */
int32_t DBPutNamedData(int32_t handle, const char *name, void *value);   /* in value */
int32_t DBPutNamedStr(int32_t handle, const char *name, const char *text);
int32_t DBIsFieldBlank(int32_t handle, int16_t field);
        /* returns 1 if width > 0 and every byte is a space, else 0 (also left in DBerrno) */
int32_t DBIsNamedBlank(int32_t handle, const char *name);               /* as DBIsFieldBlank */
int32_t DBGetFieldNumber(int32_t handle, int16_t *field, const char *name);
        /* out field: 0-based number (case-blind name match); no match: -228 and
           *field = number of fields */
int32_t DBGetFieldName(int32_t handle, char *name, int16_t field);
        /* out name: at least 11 bytes */
/* DBGetFieldDescription and DBGetFileDescription are declared above. */

/* ---- table locking ---- */
int32_t DBLockRecord(int32_t handle, int32_t number);
int32_t DBUnLockRecord(int32_t handle, int32_t number);
int32_t DBLockHeader(int32_t handle);
int32_t DBUnLockHeader(int32_t handle);
int32_t DBLockFile(int32_t handle);
int32_t DBUnLockAll(int32_t handle);
int32_t DBReadLockRecord(int32_t handle, int32_t number);
int32_t DBReadLockHeader(int32_t handle);
int32_t DBReadLockFile(int32_t handle);
int32_t DBIsRecordLocked(int32_t handle, int32_t number);
        /* shared table: returns 1 if this process holds the record's exclusive lock, else 0
           (also left in DBerrno); unshared table: returns DBerrno */
int32_t DBGetLockInfo(int32_t handle, DBLockInfo **list, int32_t *count);
        /* out list: newly allocated array of *count pairs (free with DBFreeMemory);
           out count: the table's lock count. With no locks held both are left untouched. */

/* ---- packing and restructuring ---- */
int32_t DBPackFile(int32_t *handle);
        /* in/out handle: the open table; receives the handle of the reopened table */
int32_t DBModifyFile(int32_t descriptor, int32_t records, int32_t count,
                     DBFieldSpec *fields, int32_t dialect);
        /* descriptor: HOST file descriptor (not a handle); records: record count written to
           the header; in/out fields: count specifications, completed as by DBCreateFile;
           dialect 0..10, optionally | 0x200 */

/* ---- dates ---- */
int32_t DBIsLeapYear(int32_t year);
        /* returns 1 if leap, else 0 (not a status); also sets DBdpm[2] to 29 or 28 */
int32_t DBDaysInMonth(int32_t *days, int32_t year, int32_t month);        /* out days */
int32_t DBDate3ToLong(int32_t *day_number, int32_t year, int32_t month, int32_t day);
int32_t DBLongDateTo3(int32_t *year, int32_t *month, int32_t *day, int32_t day_number);
int32_t DBLongDateToDayOfWeek(int32_t *weekday, int32_t day_number);
int32_t DBLongDateToStr(char *text, int32_t style, int32_t day_number);
int32_t DBDate3ToStr(char *text, int32_t style, int32_t year, int32_t month, int32_t day);
int32_t DBStrDateTo3(int32_t *year, int32_t *month, int32_t *day, const char *text,
                     int32_t style);
        /* out y/m/d; an empty or all-blank date gives 202 with all three outputs 0 */
int32_t DBStrDateToLong(int32_t *day_number, const char *text, int32_t style);
int32_t DBStrDateToIntDayWeek(int32_t *weekday, const char *text, int32_t style);
int32_t DBStrDateToDayOfWeek(char *day_name, const char *text, int32_t style);
int32_t DBDayOfWeek(char *day_name, int32_t weekday);        /* copies the vk_daystr entry */
int32_t DBStrDateToMonth(char *month_name, const char *text, int32_t style);
int32_t DBMonthToStr(char *month_name, int32_t month);       /* month 1..12; vk_monstr[month-1] */
int32_t DBConvertDateStr(char *out_text, int32_t out_style, const char *in_text,
                         int32_t in_style);
        /* parse in_text in in_style, format in out_style; out_text may be the same
           buffer as in_text (the library converts in place itself) */
int32_t DBDaysBetweenStr(int32_t *days, const char *text1, int32_t style1,
                         const char *text2, int32_t style2);
        /* out days: |day number 1 - day number 2| */
int32_t DBIsStrLeapYear(const char *text, int32_t style);
        /* returns 1 or 0 for the parsed year, or a negative code */
int32_t DBDaysInMonthStr(int32_t *days, const char *text, int32_t style);
int32_t DBIsValidDateStr(const char *text, int32_t style);
        /* returns 0 valid, 202 empty, negative invalid */
int32_t DBGetDate3(int32_t *year, int32_t *month, int32_t *day, int32_t *weekday);
        /* out: today from the local clock */
int32_t DBGetDateStr(char *text, int32_t style);
int32_t DBSetDefaultDateStyle(int32_t style);               /* 1..15, else -212 */
int32_t DBGetDefaultDateStyle(int32_t *style, char *style_name);
        /* out style = DBdate_style; out style_name: copy of vk_styles[style - 1]
           (buffer >= 23 bytes) */

/* ---- times ---- */
int32_t DBTime3ToStr(char *text, int32_t style, int32_t hour, int32_t minute, int32_t second);
int32_t DBStrTimeTo3(int32_t *hour, int32_t *minute, int32_t *second, const char *text,
                     int32_t style);
int32_t DBGetTime3(int32_t *hour, int32_t *minute, int32_t *second, int32_t *fraction);
        /* out: current local time; *fraction is always 0 */
int32_t DBGetTimeStr(char *text, int32_t style);
int32_t DBSecondsBetweenStr(int32_t *seconds, const char *text1, int32_t style1,
                            const char *text2, int32_t style2);
int32_t DBIsValidTimeStr(const char *text, int32_t style);  /* returns 0 valid, else the error */

/* ---- key expressions and the parse table ---- */
int32_t DBEvaluateStr(int32_t handle, const char *expression, DBEvalResult *result);
        /* handle: open table; evaluates against its current record.
           out result: value buffer (caller frees it with DBFreeMemory), type, length;
           on failure result->value is null */
int32_t DBProcessTable(void);
        /* for registered functions: evaluates one term at the frame's cursor into the
           evaluation frame (the one passed to the registered function) */
int32_t DBGetValue(int16_t *number);
        /* for registered functions: out number = numeric argument after the cursor
           (skips the comma; leaves the cursor on the next ',' or ')') */
int32_t DBAddParseEntry(const char *name, DBParseFunction function);
        /* registers function under name (the name's characters are copied, including any
           trailing '('); 211 if the name exists */
int32_t DBDeleteParseEntry(const char *name);               /* 204 if not found */
int32_t DBGetEntryStr(char *name, int32_t index);
        /* out name: copy of entry index's name + NUL (buffer > longest name length,
           see DBGetTableInfo); 203 when index is out of range */
int32_t DBGetTableInfo(int32_t *count, int32_t *longest);
        /* out count: entries; out longest: longest name length; 202 if the table is empty
           (longest then untouched) */

/* ---- NTX index ---- */
/* ---- format, open, cache, information, key conversions ---- */
int32_t DBclCreateIndex(const char *name, int32_t key_type, char *expression,
                        int32_t key_length, int32_t decimals);
        /* key_type: 'C', 'N' or 'D' (either case) | 0x80 (DB_KEY_UNIQUE) for a unique index;
           in/out expression: every space is removed IN THE CALLER'S STRING (must be writable);
           creates the file and closes it */
int32_t DBclOpenIndex(int32_t *handle, const char *name, int32_t mode);
        /* out handle (-1 on failure); mode low byte 0, 5 or 6 | DB_OPEN_* bits */
int32_t DBclCloseIndex(int32_t handle);
int32_t DBclFlushIndex(int32_t handle);
int32_t DBclGetSetCacheSize(int32_t handle, int32_t *count, int32_t command);
        /* command 1: out count = page buffers; command 0: in/out count = new number (>= 3) */
int32_t DBclLockIndex(int32_t handle);
int32_t DBclUnLockIndex(int32_t handle);
int32_t DBclGetIndexHeader(int32_t handle);
int32_t DBclGetIndexInfo(int32_t handle, DBclIndexInfo *info);             /* out info */
int32_t DBclGetIndexKeyExpr(int32_t handle, char *buffer);
        /* out buffer (>= 256 bytes): key expression and NUL */
int32_t DBclMakeKey(int32_t table, int32_t index, char **key);
        /* table: table handle; index: NTX handle; out key: newly allocated key text for the
           table's current record (caller frees with DBFreeMemory); null on failure */
int32_t DBclDoubleToKey(int32_t handle, char *buffer, double value);
        /* out buffer (key_size + 1): numeric key text of value for this index */
int32_t DBclKeyToDouble(double *value, const char *key);                   /* out value */
int32_t DBclDateToKey(char *key, const char *date_text, int32_t style);
        /* out key (>= 9 bytes): yyyymmdd, or 8 blanks for an empty date */
int32_t DBclKeyToDate(char *date_text, int32_t style, const char *key);
        /* out date_text (>= 11 bytes) */

/* ---- search and navigation ---- */
int32_t DBclKeySearch(int32_t handle, char *key, uint32_t *recno, int32_t mode);
        /* in/out key: search key (NUL-terminated; shorter = prefix), receives the key at the
           position reached; in/out recno: record number to match in mode 2, receives the
           record number at the position */
int32_t DBclGoFirstKey(int32_t handle, char *key, uint32_t *recno);        /* out, out */
int32_t DBclGoLastKey(int32_t handle, char *key, uint32_t *recno);         /* out, out */
int32_t DBclGoNextKey(int32_t handle, char *key, uint32_t *recno);         /* out, out */
int32_t DBclGoPreviousKey(int32_t handle, char *key, uint32_t *recno);     /* out, out */
int32_t DBclGetCurrentKey(int32_t handle, char *key, uint32_t *recno);     /* out, out */
int32_t DBclGetKeyPercent(int32_t handle, int32_t *percent, const char *key, uint32_t recno);
        /* out percent 0..100 of key's position; recno 0 = search by key only, else key and
           record number; returns the search's code */
int32_t DBclGetKeyAtPercent(int32_t handle, int32_t percent, char *key, uint32_t *recno);
        /* percent 0..100; out key, out recno at that position */

/* ---- insertion and deletion ---- */
int32_t DBclAddKey(int32_t handle, const char *key, uint32_t recno);
int32_t DBclDeleteKey(int32_t handle, const char *key, uint32_t recno);

/* ---- bulk build ---- */
int32_t DBclBuildIndex(int32_t table, const char *name, int32_t key_type, char *expression,
                       int32_t key_length, int32_t decimals);
        /* table: table handle; other arguments as DBclCreateIndex (expression rewritten in
           place); the index file is complete and closed on return */

/* ---- DBT memo files ---- */
int32_t DBxbCreateMemo(const char *name, int32_t factor, int32_t dialect);
        /* factor 1..32 (checked for every dialect; the block length 512 * factor is used by
           dialect 2); dialect 0 (= 1), 1, 2, 3, 5, 6 or 7; creates the file and closes it */
int32_t DBxbOpenMemo(int32_t *handle, const char *name, int32_t mode);
        /* out handle (-1 on failure); mode: memo dialect in the low byte | DB_OPEN_* bits */
int32_t DBxbCloseMemo(int32_t handle);
int32_t DBxbGetMemoHeader(int32_t handle);
int32_t DBxbGetMemoInfo(int32_t handle, DBxbMemoInfo *info);               /* out info */
int32_t DBxbLockMemo(int32_t handle);
int32_t DBxbUnLockMemo(int32_t handle);
int32_t DBxbGetMemoRecord(int32_t handle, int32_t block, char **text, int32_t flags);
        /* out text: newly allocated NUL-terminated text (free with DBFreeMemory), null on
           failure; flags 0 as stored, 0x100 (DB_DBT_STRIP_SOFT) without soft line breaks */
int32_t DBxbPutMemoRecord(int32_t handle, int32_t *block, const char *text, int32_t flags);
        /* in/out block: with 0x100 the block to replace in place when the text fits; receives
           the block where the text was written. flags: low byte = soft line length
           (0 = no wrapping, else 10..132) | 0x100 (DB_DBT_REPLACE) */
int32_t DBxbPackMemo(int32_t table, int32_t *memo);
        /* table: table handle; in/out memo: DBT handle, replaced by the reopened file's handle */

/* ---- FPT memo files ---- */
int32_t DBfpCreateMemo(const char *name, int32_t code);
        /* code 1..32: block size code * 512; 33..511: block size in bytes */
int32_t DBfpOpenMemo(int32_t *handle, const char *name, int32_t mode);   /* out handle */
int32_t DBfpCloseMemo(int32_t handle);
int32_t DBfpGetMemoHeader(int32_t handle);
int32_t DBfpGetMemoInfo(int32_t handle, DBfpMemoInfo *info);               /* out info */
int32_t DBfpLockMemo(int32_t handle);
int32_t DBfpUnLockMemo(int32_t handle);
int32_t DBfpGetMemoType(int32_t handle, int32_t block, int32_t *length, int32_t *picture);
        /* out length: data length; out picture: 1 if the memo's kind is 0 (picture), else 0 */
int32_t DBfpGetMemoRecord(int32_t handle, int32_t block, char **data, int32_t maximum,
                          int32_t flags);
        /* out data: newly allocated buffer of min(remaining, maximum) bytes + NUL (free with
           DBFreeMemory), null on failure; flags 0, or 2 (DB_FPT_PIECES) to read in pieces:
           returns 1 (and DBerrno 1) while data remains - call again with the same block */
int32_t DBfpGetMemoToBuffer(int32_t handle, int32_t block, char *buffer, int32_t maximum,
                            int32_t flags);
        /* as DBfpGetMemoRecord into the caller's buffer (>= maximum + 1 bytes) */
int32_t DBfpPutMemoRecord(int32_t handle, int32_t *block, const char *data, int32_t length,
                          int32_t total, int32_t flags);
        /* in/out block; data: length bytes (any bytes, length > 0); total: whole memo length
           (used with DB_FPT_PIECES, else taken as length); flags: 0x01 picture (kind 0),
           0x02 in pieces, | 0 append or 0x100 replace in place when it fits */
int32_t DBfpPackMemo(int32_t table, int32_t *memo);
        /* table: table handle; in/out memo: FPT handle, replaced by the reopened file's handle */

/* Supplied by the host program (a weak default in the library returns the base name). */
const char *mrv_basename(const char *source_path);

#ifdef __cplusplus
}
#endif

#endif /* XBDB_H */
