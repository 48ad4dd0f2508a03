/*
 * rslink: one serial port and the half-duplex line protocol towards the bill
 * dispenser unit.  The client drives the line through the five calls of the
 * line interface (RSOpen, RSClose, RSSend, DTRControl, RTSControl), asks what
 * the driver finds or does through four more (RSOpenInfo, RSPortMapping,
 * RSCapture, RSBuffersLent), and gets every outcome of a send or a receive
 * back as a message posted to its thread's queue.
 *
 * The thread message queues are part of this library on purpose: the registry
 * of queues is process-wide state, and the driver and its client must see one
 * and the same registry.
 */
#ifndef RSLINK_RSLINK_H
#define RSLINK_RSLINK_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define RSLINK_API __attribute__((visibility("default")))
#else
#define RSLINK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The block that crosses between client and driver, in both directions. */
typedef struct MSG_BLK {
    uint8_t code;      /* BLK_ code */
    uint8_t reserved;  /* 0 in every block either side builds */
    uint32_t error;    /* system error number in a BLK_API_ERROR block, else 0 */
    uint32_t length;   /* number of text bytes at data */
    uint8_t *data;     /* the text, or (BLK_RELEASE) the receive buffer given back */
} MSG_BLK;

/* Block codes. */
enum {
    BLK_SEND = 128,        /* client -> driver: send length bytes at data as one frame */
    BLK_RELEASE = 96,      /* client -> driver: give the receive buffer at data back */
    BLK_SEND_OK = 64,      /* driver -> client: the oldest BLK_SEND was acknowledged */
    BLK_SEND_FAILED = 65,  /* driver -> client: that BLK_SEND failed */
    BLK_RECEIVED = 16,     /* driver -> client: a good frame, text in a pool buffer */
    BLK_API_ERROR = 66     /* driver -> client: a system call inside the driver failed */
};

/* Thread messages; the second parameter is the address of a MSG_BLK or 0. */
enum {
    RSM_SEND = 1124,   /* RSSend -> driver thread */
    RSM_NOTIFY = 1125, /* driver -> client thread */
    RSM_QUIT = 1126    /* RSClose -> driver thread */
};

/* Sizes the client may rely on. */
enum {
    RS_MAX_SEND_TEXT = 1488,    /* longest text a BLK_SEND may carry */
    RS_RECV_BUFFER_SIZE = 1492, /* size of each receive buffer */
    RS_RECV_BUFFER_COUNT = 10   /* receive buffers in the pool */
};

/*
 * Results of the calls.  One value may carry several names, one for each
 * meaning it has in the calls that return it; each call below says which
 * it returns.
 */
enum {
    RS_OK = 0,
    RS_ERR_ALREADY_OPEN = -1, /* RSOpen: a port is open already */
    RS_ERR_NOT_OPEN = -2,     /* nothing is open, or RSSend cannot queue the block */
    RS_ERR_SYSTEM = -2,       /* RSOpen: a driver thread could not be started */
    RS_ERR_NO_INFO = -2,      /* RSOpenInfo: nothing to tell; either: no record given */
    RS_ERR_PARAMETER = -3,    /* RSOpen: a line parameter out of range */
    RS_ERR_PORT = -4,         /* the port number is outside 1..8, or opening or setting
                                 up the port failed */
    RS_ERR_FILE = -4          /* RSCapture: the file cannot be created */
};

/*
 * COM n (1..8) is, in this order: the device named by the environment
 * variable RSLINK_COM<n> when it is set; the device of the line COM<n>=PATH
 * in the ports file $XDG_CONFIG_HOME/valdor/ports (~/.config/valdor/ports
 * when XDG_CONFIG_HOME is unset); for COM1 only, the one USB serial adapter
 * present when there is exactly one; otherwise /dev/ttyS<n-1>.
 *
 * Where a device path goes, a network port may be named instead:
 * tcp://HOST:PORT (the line's bytes over TCP, unchanged; the server sets the
 * line) or rfc2217://HOST:PORT (telnet with the COM-PORT-OPTION: the line
 * is set from the values given here).  HOST is an IPv4 address, an IPv6
 * address in brackets or a name; every address of a name is tried in turn.
 * Connecting is bounded by 5 s; over rfc2217:// the server has 5 s to take
 * the option and 2 s to answer the settings.  RSOpen then returns once the
 * connection is made and has stood for the 500 ms it waits anyway, which
 * for a network port may be longer than that.
 *
 * A USB serial adapter is put into low-latency mode for as long as it is
 * open (see RSOpenInfo); a UART or a pseudo-terminal is left as it is.
 *
 * Returns RS_OK opened; RS_ERR_ALREADY_OPEN; RS_ERR_PARAMETER a line
 * parameter out of range; RS_ERR_PORT the port number is outside 1..8 or
 * opening or setting up the port failed (for a network port: a malformed
 * name, any failure of the network or the server, or an RSClose from
 * another thread that cut the open short); RS_ERR_SYSTEM a driver thread
 * could not be started.  After any failure the caller calls RSClose before
 * trying again.
 */
RSLINK_API int RSOpen(unsigned long client_thread, int port, int speed, int data_bits,
                      int parity, int stop_bits);

/* What the last RSOpen found at its device. */
typedef struct RS_OPEN_INFO {
    char path[256];      /* the device (or network name) COM n was mapped to (cut to fit,
                            NUL-terminated) */
    int32_t error;       /* system error number when opening or setting it up failed, else 0 */
    int32_t latency;     /* RS_LATENCY_ code (an opened port; RS_LATENCY_NETWORK for a network
                            port, opened or not) */
    char note[192];      /* RS_LATENCY_UNAVAILABLE: why; RS_LATENCY_NETWORK: the reason of the
                            failure, or the settings the server refused; else empty */
} RS_OPEN_INFO;

enum {
    RS_LATENCY_UNCHANGED = 0,   /* not a USB adapter: nothing changed */
    RS_LATENCY_LOW = 1,         /* a USB adapter, now in low-latency mode */
    RS_LATENCY_UNAVAILABLE = 2, /* a USB adapter whose driver refused it; runs as it was */
    RS_LATENCY_NETWORK = 3      /* a network port: the server's latency is its own */
};

/* Fills *info from the last RSOpen that got as far as a device path: RS_OK;
 * or RS_ERR_NO_INFO when none did (no RSOpen yet, or the last one failed
 * before: a parameter or port number out of range, already open) or info is
 * 0.  Says why an RS_ERR_PORT happened: error is EACCES for a permission
 * denial, EBUSY for a port another open holds, ENOENT for a missing device,
 * ENOTTY for a file that is not a terminal.
 *
 * For a network port (latency RS_LATENCY_NETWORK), note says the reason in
 * words as it follows "cannot open NAME: ", and error is the system's
 * number where one fits: ECONNREFUSED, ETIMEDOUT, EHOSTUNREACH ...;
 * ECONNRESET for a server that closed the connection (note: "the server
 * closed the connection (TEXT)" with the text it sent first, if any);
 * EPROTONOSUPPORT for a server that does not speak RFC 2217; EINVAL for a
 * malformed name; ECANCELED for an open cut short by RSClose; and for a
 * name that could not be resolved, the resolver's own code (EAI_*, below
 * zero; note "HOST: " and its words).  An opened rfc2217:// port whose
 * server answered a setting with another value has error 0 and the refused
 * settings in note, e.g. "parity NONE, not EVEN; stop bits 2, not 1". */
RSLINK_API int RSOpenInfo(RS_OPEN_INFO *info);

/* Which device COM n opens, and by which rule of the order under RSOpen. */
typedef struct RS_PORT_MAPPING {
    char path[256];    /* what RSOpen opens: a device path or a network name (cut to fit,
                          NUL-terminated) */
    int32_t rule;      /* RS_MAP_ code */
    char origin[256];  /* where the rule found it, for messages: the variable's name, the
                          ports file's path, "the only USB serial adapter" or "default" */
} RS_PORT_MAPPING;

enum {
    RS_MAP_ENVIRONMENT = 1,      /* the variable RSLINK_COM<n> */
    RS_MAP_PORTS_FILE = 2,       /* the line COM<n>=PATH of the ports file */
    RS_MAP_ONLY_USB_ADAPTER = 3, /* COM1: the one USB serial adapter present */
    RS_MAP_DEFAULT = 4           /* /dev/ttyS<n-1> */
};

/* Fills *mapping with what RSOpen would open for COM `port` at this moment,
 * whether or not a port is open: RS_OK; RS_ERR_PORT for a port number
 * outside 1..8; RS_ERR_NO_INFO when mapping is 0. */
RSLINK_API int RSPortMapping(int port, RS_PORT_MAPPING *mapping);

/* Cuts short a wait for a grant, an acknowledgement or the unit's frame (a
 * frame being written or read still ends), posts 65 for the block in
 * progress and for every block still queued, stops the threads, closes the
 * port.  RSSend refuses from the moment it begins.  Called from another
 * thread while an RSOpen is connecting to a network port, it cuts that open
 * short (the RSOpen returns RS_ERR_PORT, RSOpenInfo's error ECANCELED),
 * then closes whatever the open left.  Returns RS_OK, also when nothing is
 * open. */
RSLINK_API int RSClose(void);

/* Queues a BLK_SEND or BLK_RELEASE block to the driver thread and returns at
 * once: RS_OK queued; RS_ERR_NOT_OPEN nothing is open or the block could not
 * be queued.  The block and its text stay the client's and must stay
 * unchanged until the driver has taken them (for a BLK_SEND: until its 64 or
 * 65 has arrived). */
RSLINK_API int RSSend(MSG_BLK *block);

/* Raise (non-zero) or lower (zero) DTR / RTS.  RS_OK, or RS_ERR_NOT_OPEN.
 * Over rfc2217:// they send SET-CONTROL and wait for no answer; over tcp://
 * they do nothing.  A network port cannot raise RTS just for a write. */
RSLINK_API int DTRControl(int on);
RSLINK_API int RTSControl(int on);

/* Capture of the line: from now on every burst in both directions, with
 * COM Open and COM Close marks, goes to the file at path (created or
 * truncated; layout in docs/capture-format.md).  A null or empty path ends
 * the capture.  Without this call, RSOpen starts a capture to the file named
 * by the environment variable RSLINK_CAPTURE when it is set.  A capture
 * still running when the process ends normally (exit, or a return from
 * main) is finished then, also without RSClose.  Returns RS_OK, or
 * RS_ERR_FILE when the file cannot be created (errno tells why). */
RSLINK_API int RSCapture(const char *path);

/* Diagnostics: the number of receive buffers lent to the client now (0..10),
 * or RS_ERR_NOT_OPEN. */
RSLINK_API int RSBuffersLent(void);

/* ---- Thread message queues ---------------------------------------------- */

typedef struct RS_MSG {
    unsigned int message;
    uintptr_t wparam;
    uintptr_t lparam;
} RS_MSG;

/* Results of the queue calls. */
enum {
    RS_GOT_MESSAGE = 1,    /* RSGetMessage: a message was taken */
    RS_GOT_QUIT = 0,       /* RSGetMessage: a quit request was taken */
    RS_ERR_NO_QUEUE = -1,  /* the thread has no queue */
    RS_ERR_TIMED_OUT = -2  /* RSGetMessageTimeout: nothing arrived in time */
};

/* Gives the calling thread a message queue (once; a second call returns the
 * same identifier) and returns the thread's identifier, never 0. */
RSLINK_API unsigned long RSQueueCreate(void);

/* Removes the calling thread's queue; later posts to it fail.  Messages still
 * in it are dropped. */
RSLINK_API void RSQueueDestroy(void);

/* The calling thread's identifier, or 0 when it has no queue. */
RSLINK_API unsigned long RSQueueSelf(void);

/* Posts a message to a thread's queue; never blocks.  RS_OK posted, or
 * RS_ERR_NO_QUEUE. */
RSLINK_API int RSPostMessage(unsigned long thread, unsigned int message, uintptr_t wparam,
                             uintptr_t lparam);

/* Asks a thread to quit: once the messages posted before it have been taken,
 * its RSGetMessage returns RS_GOT_QUIT.  RS_OK posted, or RS_ERR_NO_QUEUE. */
RSLINK_API int RSPostQuit(unsigned long thread);

/* Takes the next message of the calling thread's queue, blocking without
 * limit: RS_GOT_MESSAGE, RS_GOT_QUIT, or RS_ERR_NO_QUEUE for a calling
 * thread without a queue. */
RSLINK_API int RSGetMessage(RS_MSG *msg);

/* As RSGetMessage, waiting at most timeout_ms milliseconds; RS_ERR_TIMED_OUT
 * when nothing arrived in time. */
RSLINK_API int RSGetMessageTimeout(RS_MSG *msg, int timeout_ms);

#ifdef __cplusplus
}
#endif

#endif /* RSLINK_RSLINK_H */
