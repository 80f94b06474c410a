/* DVSNETClient.dll: the client library through which Tessarin upgrades the devices that take
 * their firmware from it (type numbers below 0 and from 100 to 199). It speaks the protocol of
 * dvsnet/PROTOCOL.md to the device's port 4000.
 *
 * All texts are 8-bit in the system's ANSI code page and zero-terminated. Every call returns 0 on
 * success and a nonzero DVSNET_ERROR_ value otherwise. Callbacks may arrive on any thread.
 *
 * Handles and plain values are 32-bit. Pointers, the user pointers handed back to the callbacks
 * included, are pointer-sized: 64 bits in the 64-bit build. */
#ifndef DVSNETCLIENT_H
#define DVSNETCLIENT_H

#include <windows.h>

#ifdef DVSNETCLIENT_EXPORTS
#define DVSNET_API __declspec(dllexport)
#else
#define DVSNET_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef DWORD DVSNET_HANDLE;

#define DVSNET_OK 0
#define DVSNET_ERROR_ARGUMENT 1  /* a null pointer, an empty address, a text too long */
#define DVSNET_ERROR_HANDLE 2    /* no open connection has this handle */
#define DVSNET_ERROR_CONNECT 3   /* the device could not be reached on its port */
#define DVSNET_ERROR_LOGIN 4     /* the device refused the user name or password */
#define DVSNET_ERROR_PROTOCOL 5  /* the device answered something this library does not know */
#define DVSNET_ERROR_FILE 6      /* the package file cannot be read or is empty */
#define DVSNET_ERROR_BUSY 7      /* a transfer already runs on this connection */
#define DVSNET_ERROR_RESOURCES 8 /* no memory, thread or socket for the call */
#define DVSNET_ERROR_DEVICE 9    /* the device refused the package or failed to install it */

/* What a transfer reports: the panel reads the percentage (offset 12) and the end flag
 * (offset 16). Sending the package takes the percentage from 0 to 90, the device's installation
 * from 90 to 99; 100 comes only in the last record of a package the device has installed. */
typedef struct DVSNET_PROGRESS {
    DWORD size; /* sizeof(DVSNET_PROGRESS) */
    DVSNET_HANDLE server;
    DWORD bytesSent; /* low 32 bits */
    LONG percent;    /* 0 to 100 */
    LONG finished;   /* nonzero once the transfer has ended, well or not */
    LONG result;     /* DVSNET_OK, or why it ended early */
} DVSNET_PROGRESS;

/* What the device says about itself; the caller sets `size` to sizeof(DVSNET_SERVER_INFO)
 * (156). */
typedef struct DVSNET_SERVER_INFO {
    DWORD size;
    char model[32];
    char name[64];
    char firmware[32];
    DWORD channels;
    DWORD deviceType;
    DWORD reserved[4];
} DVSNET_SERVER_INFO;

/* A message about the connection: (server, message, three message values, the user pointer
 * given at registration). It comes from the library's own thread, like the progress callback,
 * and may call DVSNET_GetServerInfo. */
typedef void(CALLBACK* DVSNET_MESSAGE_CALLBACK)(DVSNET_HANDLE server, DWORD message, DWORD value1,
                                                DWORD value2, DWORD value3, void* user);
#define DVSNET_MESSAGE_PROGRESS 1 /* value1: percent */
#define DVSNET_MESSAGE_FINISHED 2 /* value1: result; value2: the device's own result code */
#define DVSNET_MESSAGE_CLOSED 3   /* the device closed the connection or stopped answering */

/* Progress of a package transfer: (reserved 0, the record, the user pointer given to
 * DVSNET_UpdateServer). The record is valid during the call only. */
typedef LONG(CALLBACK* DVSNET_PROGRESS_CALLBACK)(DWORD reserved, const DVSNET_PROGRESS* progress,
                                                 void* user);

/* Connects and logs in; `name` is a label for the connection and may be empty. `port` is the
 * device's library port (4000). The handle is written to *server on success only. The last two
 * values are reserved and must be 0. Blocks for up to 5 s to connect and 5 s for each of the
 * device's three answers. Texts: address, user and password at most 39 bytes, name 63. */
DVSNET_API LONG WINAPI DVSNET_OpenServer(const char* name, const char* address, WORD port,
                                         const char* user, const char* password,
                                         DVSNET_HANDLE* server, LONG reserved1, LONG reserved2);

/* Sets (or with a null callback removes) the message callback. */
DVSNET_API LONG WINAPI DVSNET_RegServerMsgCallback(DVSNET_HANDLE server,
                                                   DVSNET_MESSAGE_CALLBACK callback, void* user);

/* Starts sending the package at `path` (shorter than MAX_PATH) and returns at once; progress
 * arrives through the callback until a record with `finished` set. DVSNET_ERROR_BUSY while a
 * transfer runs on the connection, DVSNET_ERROR_CONNECT once the connection is lost. */
DVSNET_API LONG WINAPI DVSNET_UpdateServer(DVSNET_HANDLE server, const char* path,
                                           DVSNET_PROGRESS_CALLBACK callback, void* user);

/* What the device said about itself at login; `info->size` must be sizeof(DVSNET_SERVER_INFO).
 * Texts are zero-terminated. */
DVSNET_API LONG WINAPI DVSNET_GetServerInfo(DVSNET_HANDLE server, DVSNET_SERVER_INFO* info);

/* Ends a transfer that still runs, closes the connection and frees the handle. No callback for
 * this connection runs after it returns. While it waits for the library's thread it handles
 * messages sent to the calling thread's windows, so a callback may send messages to windows of
 * the thread that closes. From inside a callback it returns without waiting. */
DVSNET_API LONG WINAPI DVSNET_CloseServer(DVSNET_HANDLE server);

#ifdef __cplusplus
}
#endif

#endif
