/*
 * sqx: the archive library of Quillbox. It writes, lists and extracts the
 * backup file, a standard ZIP archive (deflate, ZIP64 when needed, UTF-8
 * names, WinZip AES-256 when a password is given), optionally cut into
 * volumes of a fixed size.
 *
 * The interface is plain C. Records are raw byte blocks that the caller
 * allocates; every field sits at a fixed offset (SQX_*_OFS_* below). Integer
 * fields are 32-bit little-endian, texts are zero-terminated UTF-8 within
 * their field. Host paths are Linux paths in UTF-8; stored names (the names
 * inside the archive) are exchanged with "\" as separator.
 *
 * Every entry point that returns int32_t returns a result code (SQX_OK or
 * one of the SQX_ERR_* values) and, on failure, leaves a human-readable text
 * for SqxGetLastError.
 */
#ifndef QUILLBOX_SQX_H
#define QUILLBOX_SQX_H

#include <stdint.h>

#if defined(SQX_BUILDING_LIBRARY)
#define SQX_API __attribute__((visibility("default")))
#else
#define SQX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ------------------------------------------------------ */
enum {
    SQX_OK = 0,
    SQX_ERR_INTERNAL = 1,          /* unexpected failure inside the library */
    SQX_ERR_NOT_FOUND = 2,         /* the archive (or a volume of it) does not exist */
    SQX_ERR_ACCESS_DENIED = 5,     /* a source file or folder cannot be read, an output
                                      file or folder cannot be created */
    SQX_ERR_NO_MEMORY = 8,         /* out of memory */
    SQX_ERR_BAD_ARCHIVE = 13,      /* not an archive, or a damaged or incomplete one */
    SQX_ERR_WRITE = 29,            /* another failure while writing (e.g. I/O error) */
    SQX_ERR_READ = 30,             /* another failure while reading a source file or the
                                      archive (I/O error, file shrank while read) */
    SQX_ERR_NOT_SUPPORTED = 50,    /* entry point that this library does not offer */
    SQX_ERR_BAD_PASSWORD = 86,     /* wrong or missing password */
    SQX_ERR_INVALID_PARAM = 87,    /* null pointer, wrong record size, bad option value */
    SQX_ERR_DISK_FULL = 101,       /* no space left (or quota exceeded) while writing */
    SQX_ERR_BAD_NAME = 123,        /* a stored name is empty or has ".." components */
    SQX_ERR_WRITE_PROTECTED = 150, /* the output lies on a read-only file system */
    SQX_ERR_NAME_TOO_LONG = 206,   /* a path or name does not fit its record field */
    SQX_ERR_ABORTED = 2926,        /* the callback answered 0 (stop) */
    SQX_ERR_EXTRACT = 9961         /* a stored file could not be extracted: damaged data,
                                      CRC or authentication failure, refused name */
};

/* ---- File list (caller-owned record, 12 bytes) ------------------------- */
/* int32 count at 0; at 4 an (unaligned) pointer to the library's storage.
 * For SqxAddFiles the entries are host paths of files or folders; for
 * SqxExtractFiles they are stored names ("\" separators); for SqxListFiles
 * they are patterns ("*" and "?" wildcards, "*.*" matches every name). */
#define SQX_FILELIST_SIZE 12
#define SQX_FILELIST_OFS_COUNT 0
#define SQX_FILELIST_OFS_STORAGE 4

/* ---- Name list (caller-owned record, 12 bytes) ------------------------- */
/* int32 count at 0; at 4 an (unaligned) pointer to the first node of a chain.
 * Names are in archive order with "\" separators; folder entries are
 * included and end with "\" (so empty folders can be restored). */
#define SQX_NAMELIST_SIZE 12
#define SQX_NAMELIST_OFS_COUNT 0
#define SQX_NAMELIST_OFS_FIRST 4

/* A node is allocated just long enough for its name (the "struct hack"). */
typedef struct SqxArcFileNode {
    struct SqxArcFileNode* next;
    char name[1]; /* zero-terminated UTF-8 */
} SqxArcFileNode;

/* ---- Archive options (3740 bytes) -------------------------------------- */
#define SQX_AO_SIZE 3740
#define SQX_AO_OFS_SIZE 0 /* = 3740 */
#define SQX_AO_OFS_LEVEL                                                               \
    4                        /* compression level 0..5: 0 store, 1 fastest (zlib 1),   \
                                2 fast (zlib 3), 3 normal (zlib 6, the usual default), \
                                4 good (zlib 8), 5 best (zlib 9) */
#define SQX_AO_OFS_METHOD 16 /* 1 = deflate, 0 = store without compression */
#define SQX_AO_OFS_RECURSE                                                        \
    32                         /* 1 = a listed folder stores everything below it, \
                                  0 = only the folder entry itself */
#define SQX_AO_OFS_PASSWORD 40 /* zero-terminated; non-empty = WinZip AES-256 */
#define SQX_AO_PASSWORD_LEN 544
#define SQX_AO_OFS_BASEDIR 584 /* zero-terminated host path; informational only */
#define SQX_AO_BASEDIR_LEN 816
#define SQX_AO_OFS_SPLIT 1400       /* 1 = cut the archive into volumes */
#define SQX_AO_OFS_ASK_VOLUME 1404  /* 1 = call reason 2 before each new volume */
#define SQX_AO_OFS_VOLUME_SIZE 1416 /* a media code below, or a byte count */

/* Media codes for the volume size, and the bytes each of them stands for. */
#define SQX_MEDIA_ZIP100 9  /* 100 MB ZIP disk:  100,431,872 bytes */
#define SQX_MEDIA_ZIP250 11 /* 250 MB ZIP disk:  250,640,384 bytes */
#define SQX_MEDIA_CD650 12  /* 650 MB CD:        681,984,000 bytes */
#define SQX_MEDIA_CD700 13  /* 700 MB CD:        737,280,000 bytes */
#define SQX_MEDIA_ZIP100_BYTES 100431872
#define SQX_MEDIA_ZIP250_BYTES 250640384
#define SQX_MEDIA_CD650_BYTES 681984000
#define SQX_MEDIA_CD700_BYTES 737280000
#define SQX_FLOPPY_BYTES 1357664   /* what the program passes for a 1.44 MB floppy */
#define SQX_MIN_VOLUME_BYTES 65536 /* smaller byte counts are refused (87) */

/* ---- Extract options (828 bytes) --------------------------------------- */
#define SQX_EO_SIZE 828
#define SQX_EO_OFS_SIZE 0 /* = 828 */
#define SQX_EO_OFS_ASK                                  \
    4 /* 1 = ask with reason 1 before replacing a file, \
         0 = replace without asking */
#define SQX_EO_OFS_SUBFOLDERS                                       \
    8                         /* 0: output folder + bare file name, \
                                 1: output folder + whole stored path */
#define SQX_EO_OFS_OUTDIR 556 /* zero-terminated host path */
#define SQX_EO_OUTDIR_LEN 272

/* ---- Information record filled by SqxListFiles (360 bytes) ------------- */
/* Counts cover the entries that matched the file list's patterns. */
#define SQX_INFO_SIZE 360
#define SQX_INFO_OFS_SIZE 0          /* int32: 360 */
#define SQX_INFO_OFS_ENTRIES 4       /* int32: names put into the name list */
#define SQX_INFO_OFS_FILES 8         /* int32: of which files */
#define SQX_INFO_OFS_FOLDERS 12      /* int32: of which folders */
#define SQX_INFO_OFS_ENCRYPTED 16    /* int32: files whose data is encrypted */
#define SQX_INFO_OFS_VOLUMES 20      /* int32: volume files the archive consists of */
#define SQX_INFO_OFS_TOTAL_SIZE 24   /* int64: sum of the files' uncompressed sizes */
#define SQX_INFO_OFS_ARCHIVE_SIZE 32 /* int64: bytes of all volumes together */
#define SQX_INFO_OFS_ALL_ENTRIES 40  /* int32: entries in the archive, matching or not */
#define SQX_INFO_OFS_FORMAT 44       /* text, 32 bytes: "ZIP" */
#define SQX_INFO_FORMAT_LEN 32

/* ---- Callback ----------------------------------------------------------- */
/* The record handed to the callback is SQX_CB_RECORD_SIZE bytes, zeroed
 * before each job; int32 at 0 holds its size. */
#define SQX_CB_RECORD_SIZE 1024
#define SQX_CB_OFS_SIZE 0
#define SQX_CB_OFS_NAME 4 /* 272 bytes: file name, the callback may rewrite it */
#define SQX_CB_NAME_LEN 272
#define SQX_CB_OFS_TEXT 276 /* 288 bytes: next volume's path / password buffer */
#define SQX_CB_TEXT_LEN 288
#define SQX_CB_OFS_VOLUME_KIND 564 /* int32: SQX_VOLUME_WRITE or SQX_VOLUME_READ */
#define SQX_CB_OFS_REASON 572      /* int32: SQX_REASON_* */
#define SQX_CB_OFS_VALUE 576       /* int32: percent (reason 0) or bytes needed (reason 2) */
#define SQX_CB_OFS_DISK 580        /* int32: 1-based number of the volume (reason 2) */

enum {
    SQX_REASON_PROGRESS = 0,  /* percent of the current list entry (adding: of the bytes of
                                 the file, or of all files below a folder) */
    SQX_REASON_OVERWRITE = 1, /* name = existing destination; answer 2 replace, 1 skip */
    SQX_REASON_VOLUME = 2,    /* text = path of the volume about to be written / that is
                                 missing; answer 1 go on (reading: try again), 0 stop */
    SQX_REASON_PASSWORD = 3,  /* the callback writes the password into text */
    SQX_REASON_ADD = 5,       /* name = source host path; the callback rewrites it to
                                 the stored name ("\" separators) */
    SQX_REASON_EXTRACT = 6,   /* name = output host path; the callback may rewrite it to
                                 any other host path; an emptied name skips the entry */
    SQX_REASON_ABSENT = 7     /* name = a list name the archive does not hold */
};

enum { SQX_ANSWER_STOP = 0, SQX_ANSWER_CONTINUE = 1, SQX_ANSWER_OVERWRITE = 2 };
enum { SQX_VOLUME_WRITE = 1, SQX_VOLUME_READ = 2 };

typedef int32_t (*SqxCallback)(intptr_t user, void* record);

/* ---- Entry points ------------------------------------------------------- */
SQX_API int32_t SqxInitFileList(void* fileList);
SQX_API int32_t SqxAddFileList(const char* pathOrPattern, void* fileList);
SQX_API int32_t SqxDoneFileList(void* fileList);

/* Writes the archive from the file list, in list order. Each entry is first
 * announced with reason 5 (even a path that does not exist, which is then
 * skipped without error). A file stores its content; a folder stores itself
 * and everything below it (hidden files included, name order, each folder
 * before its contents); a listed path that is a symbolic link is followed,
 * but no link below a listed folder is (the caller lists the links it allows
 * as paths of their own), and pipes, sockets and devices are left out. The archive is
 * written as "<path>.partial-<pid>-<random>" (created exclusively, never through
 * a link, readable by its owner only; such files of processes that died are
 * removed) and renamed into place when complete;
 * on any failure the temporary files go and an older archive stays as it
 * was. Volumes: the first at archivePath, the next ones beside it with the
 * extension replaced by .e01, .e02, ...; the volumes put together (cat) are
 * one plain ZIP archive. After a split archive is written, volumes of an
 * earlier, longer set under the same name are removed. */
SQX_API int32_t SqxAddFiles(const char* archivePath, void* fileList, void* archiveOptions,
                            SqxCallback callback, intptr_t user);

/* Extracts the stored names of the file list, in list order: each list name
 * is announced with reason 6 (output path, which the callback may change)
 * or, when the archive lacks it, with reason 7. Names match without regard
 * to case. The archive is read forward; a list name lying behind the
 * previous one makes the library open the archive again, so lists in
 * archive order take a single pass. A stored name that is absolute or has
 * ".." levels is refused (SQX_ERR_EXTRACT) unless the callback handed back
 * a path of its own. Files are written under a hidden temporary name beside
 * their destination and renamed when complete, with the stored time.
 * A password (reason 3) is asked for once, when encrypted data is first
 * read. An entry that does not fit the free space of its destination (its
 * declared size and a margin) is refused before it is written (disk full); one
 * whose data grows beyond its declared size is stopped and removed. Failures
 * of single entries (damaged data, refused names, an output
 * that cannot be created) do not stop the job: it goes on and returns the
 * code of the first one; disk full, stop, password and archive failures end
 * it at once. */
SQX_API int32_t SqxExtractFiles(const char* archivePath, void* fileList, void* extractOptions,
                                SqxCallback callback, intptr_t user);

SQX_API int32_t SqxInitArcFileList(void* nameList);
/* Fills nameList (replacing what it held) with the stored names that match
 * the file list's patterns (a null or empty list matches all), and info
 * (may be null). Names are not encrypted: listing never asks for the
 * password. A single file without a ZIP end record counts as the first
 * volume of a set when a later volume (.e02 ... .e99) lies beside it or its
 * size is one of the media sizes above; otherwise it is SQX_ERR_BAD_ARCHIVE.
 * A missing volume is asked for with reason 2 (volume kind 2). */
SQX_API int32_t SqxListFiles(const char* archivePath, void* fileList, void* nameList, void* info,
                             void* extractOptions, SqxCallback callback, intptr_t user);
SQX_API int32_t SqxDoneArcFileList(void* nameList);

/* Tests the archive: reads every stored file that matches the file list's
 * patterns (a null or empty list: every file) to its end and checks its
 * CRC-32 and, for encrypted entries, its authentication code (the password is
 * asked for with reason 3). Progress comes with reason 0 and the entry's
 * stored name. SQX_OK when every entry is whole; SQX_ERR_EXTRACT when one is
 * not, with the last-error text naming the first damaged entry;
 * SQX_ERR_BAD_ARCHIVE when the archive cannot be read at all. extractOptions
 * may be null. */
SQX_API int32_t SqxTestFiles(const char* archivePath, void* fileList, void* extractOptions,
                             SqxCallback callback, intptr_t user);

/* Not offered by this library: each returns SQX_ERR_NOT_SUPPORTED. */
SQX_API int32_t SqxAddArchiveComment(const char* archivePath, const char* comment,
                                     SqxCallback callback, intptr_t user);
SQX_API int32_t SqxAddFileComments(const char* archivePath, void* fileList, SqxCallback callback,
                                   intptr_t user);
SQX_API int32_t SqxDeleteFiles(const char* archivePath, void* fileList, SqxCallback callback,
                               intptr_t user);
SQX_API int32_t SqxRepairFiles(const char* archivePath, const char* repairedPath,
                               SqxCallback callback, intptr_t user);

/* Copies the text of the last failure (process-wide, cleared when a job
 * starts) into buffer, cut to size - 1 bytes at a character boundary and
 * zero-terminated. Returns the full length of the text in bytes. */
SQX_API int32_t SqxGetLastError(char* buffer, int32_t size);

#ifdef __cplusplus
}
#endif

#endif /* QUILLBOX_SQX_H */
