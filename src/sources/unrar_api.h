/* The C interface of a RAR extraction library loaded at run time (libunrar.so).
 *
 * The record layouts, constants and entry points follow the library's published API for
 * 64-bit Unix builds: wchar_t is 32 bits, LPARAM is long, there is no special calling
 * convention. The program uses RAROpenArchiveEx, RARReadHeaderEx, RARProcessFileW and
 * RARCloseArchive; the library shipped with the program and the test library implement them.
 * This header is C so either side can be written in C or C++. */
#ifndef VELORIN_UNRAR_API_H
#define VELORIN_UNRAR_API_H

#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ERAR_SUCCESS 0
#define ERAR_END_ARCHIVE 10
#define ERAR_NO_MEMORY 11
#define ERAR_BAD_DATA 12
#define ERAR_BAD_ARCHIVE 13
#define ERAR_UNKNOWN_FORMAT 14
#define ERAR_EOPEN 15
#define ERAR_ECREATE 16
#define ERAR_ECLOSE 17
#define ERAR_EREAD 18
#define ERAR_EWRITE 19
#define ERAR_SMALL_BUF 20
#define ERAR_UNKNOWN 21
#define ERAR_MISSING_PASSWORD 22
#define ERAR_EREFERENCE 23
#define ERAR_BAD_PASSWORD 24

#define RAR_OM_LIST 0
#define RAR_OM_EXTRACT 1
#define RAR_OM_LIST_INCSPLIT 2

#define RAR_SKIP 0
#define RAR_TEST 1
#define RAR_EXTRACT 2

/* Mode of UCM_CHANGEVOLUME(W): ask for a missing volume, or tell that the next one is opened. */
#define RAR_VOL_ASK 0
#define RAR_VOL_NOTIFY 1

/* Archive flags of the open record. */
#define ROADF_VOLUME 0x0001
#define ROADF_COMMENT 0x0002
#define ROADF_LOCK 0x0004
#define ROADF_SOLID 0x0008
#define ROADF_NEWNUMBERING 0x0010
#define ROADF_SIGNED 0x0020
#define ROADF_RECOVERY 0x0040
#define ROADF_ENCHEADERS 0x0080
#define ROADF_FIRSTVOLUME 0x0100

/* Member flags of the header record. */
#define RHDF_SPLITBEFORE 0x01
#define RHDF_SPLITAFTER 0x02
#define RHDF_ENCRYPTED 0x04
#define RHDF_SOLID 0x10
#define RHDF_DIRECTORY 0x20

/* Callback messages: P1 and P2 per message. PROCESSDATA: bytes, count. CHANGEVOLUMEW: wide
 * volume name, RAR_VOL_ASK or RAR_VOL_NOTIFY. NEEDPASSWORDW: wide buffer, its size in
 * characters. The callback returns -1 to abandon the operation, else 0 (or 1 for a volume). */
enum UNRARCALLBACK_MESSAGES {
  UCM_CHANGEVOLUME,
  UCM_PROCESSDATA,
  UCM_NEEDPASSWORD,
  UCM_CHANGEVOLUMEW,
  UCM_NEEDPASSWORDW,
  UCM_LARGEDICT
};

typedef int (*UNRARCALLBACK)(unsigned int msg, long UserData, long P1, long P2);

struct RARHeaderDataEx {
  char ArcName[1024];
  wchar_t ArcNameW[1024];
  char FileName[1024];
  wchar_t FileNameW[1024];
  unsigned int Flags;
  unsigned int PackSize;
  unsigned int PackSizeHigh;
  unsigned int UnpSize;
  unsigned int UnpSizeHigh;
  unsigned int HostOS;
  unsigned int FileCRC;
  unsigned int FileTime; /* MS-DOS date in the high 16 bits, time in the low 16 bits */
  unsigned int UnpVer;
  unsigned int Method;
  unsigned int FileAttr;
  char* CmtBuf;
  unsigned int CmtBufSize;
  unsigned int CmtSize;
  unsigned int CmtState;
  unsigned int DictSize;
  unsigned int HashType;
  char Hash[32];
  unsigned int RedirType;
  wchar_t* RedirName;
  unsigned int RedirNameSize;
  unsigned int DirTarget;
  unsigned int MtimeLow;
  unsigned int MtimeHigh;
  unsigned int CtimeLow;
  unsigned int CtimeHigh;
  unsigned int AtimeLow;
  unsigned int AtimeHigh;
  wchar_t* ArcNameEx;
  unsigned int ArcNameExSize;
  wchar_t* FileNameEx;
  unsigned int FileNameExSize;
  unsigned int Reserved[982];
};

struct RAROpenArchiveDataEx {
  char* ArcName;
  wchar_t* ArcNameW;
  unsigned int OpenMode;
  unsigned int OpenResult;
  char* CmtBuf;
  unsigned int CmtBufSize;
  unsigned int CmtSize;
  unsigned int CmtState;
  unsigned int Flags;
  UNRARCALLBACK Callback;
  long UserData;
  unsigned int OpFlags;
  wchar_t* CmtBufW;
  wchar_t* MarkOfTheWeb;
  unsigned int Reserved[22];
};

#ifdef __cplusplus
static_assert(sizeof(RAROpenArchiveDataEx) == 176, "the open record is 176 bytes");
static_assert(sizeof(wchar_t) == 4, "wide strings are UTF-32 on this platform");
#endif

typedef void* (*RAROpenArchiveExFunction)(struct RAROpenArchiveDataEx* data);
typedef int (*RARCloseArchiveFunction)(void* archive);
typedef int (*RARReadHeaderExFunction)(void* archive, struct RARHeaderDataEx* header);
typedef int (*RARProcessFileWFunction)(void* archive, int operation, wchar_t* destPath, wchar_t* destName);

#ifdef __cplusplus
}
#endif

#endif
