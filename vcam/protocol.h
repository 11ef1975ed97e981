/* The wire format between the virtual camera driver (zqvcam.sys) and its camera service
 * (zqvcam-service.exe).
 *
 * The driver presents drive letters whose devices do nothing themselves: every open, device
 * control and close that a program sends to them is written into a request record and handed to
 * the user-mode service, which answers it (the inverted call). The service keeps a
 * NEXT_REQUEST call pending on the driver's control device; the driver completes it with the next
 * request; the service sends the answer with ANSWER. A request the service does not answer within
 * the time-out, or that is still open when the service's handle goes, fails; nothing waits for a
 * service that is gone.
 *
 * Every record is built and read byte by byte at the offsets below, little-endian, whatever the
 * compiler's struct layout. This header is shared by the driver (C, kernel mode) and the service
 * (C++), so it uses nothing but the C language.
 *
 * Control device: \Device\ZelquinVcam, reached from user mode as \\.\ZelquinVcam.
 * Letter devices: \Device\ZelquinVcamE for E:, linked from \DosDevices\Global\E: while the letter
 * is present.
 */
#ifndef ZELQUIN_VCAM_PROTOCOL_H
#define ZELQUIN_VCAM_PROTOCOL_H

#define ZQVCAM_PROTOCOL_VERSION 1u

#define ZQVCAM_CONTROL_DEVICE_NAME L"\\Device\\ZelquinVcam"
#define ZQVCAM_CONTROL_LINK_NAME L"\\DosDevices\\ZelquinVcam"
#define ZQVCAM_CONTROL_PATH L"\\\\.\\ZelquinVcam"
/* The letter device of X is ZQVCAM_LETTER_DEVICE_PREFIX followed by X. */
#define ZQVCAM_LETTER_DEVICE_PREFIX L"\\Device\\ZelquinVcam"
#define ZQVCAM_SERVICE_NAME L"zqvcam"

/* ---- control codes of the control device ----
 * CTL_CODE(FILE_DEVICE_UNKNOWN 0x22, function, METHOD_BUFFERED 0, access):
 *   (0x22 << 16) | (access << 14) | (function << 2). */
#define ZQVCAM_CTL(function, access) \
    ((0x22u << 16) | ((unsigned)(access) << 14) | ((unsigned)(function) << 2))

/* in: the attach record. The caller's handle becomes the camera service's; only one handle can
 * be attached at a time (STATUS_DEVICE_BUSY otherwise). */
#define ZQVCAM_IOCTL_ATTACH ZQVCAM_CTL(0x800, 3)
/* out: the next request record (at most ZQVCAM_REQUEST_MAX bytes). Stays pending until there is
 * a request; attached handle only. */
#define ZQVCAM_IOCTL_NEXT_REQUEST ZQVCAM_CTL(0x801, 3)
/* in: an answer record; attached handle only. Fails with STATUS_NOT_FOUND when the request is no
 * longer waiting (timed out, cancelled). */
#define ZQVCAM_IOCTL_ANSWER ZQVCAM_CTL(0x802, 3)
/* in: a letter record: presents or withdraws a drive letter; attached handle only. */
#define ZQVCAM_IOCTL_SET_LETTER ZQVCAM_CTL(0x803, 3)
/* out: the status record; any handle. */
#define ZQVCAM_IOCTL_STATUS ZQVCAM_CTL(0x804, 0)

/* ---- attach record (service -> driver), 8 bytes ---- */
#define ZQVCAM_ATTACH_VERSION 0 /* u32 ZQVCAM_PROTOCOL_VERSION */
#define ZQVCAM_ATTACH_TIMEOUT 4 /* u32 request time-out in milliseconds; 0: the default */
#define ZQVCAM_ATTACH_SIZE 8

#define ZQVCAM_DEFAULT_TIMEOUT_MS 5000u
#define ZQVCAM_MIN_TIMEOUT_MS 100u
#define ZQVCAM_MAX_TIMEOUT_MS 600000u

/* ---- request record (driver -> service) ---- */
#define ZQVCAM_REQ_LENGTH 0  /* u32 length of the whole record, head and data */
#define ZQVCAM_REQ_ID 4      /* u32 request number, never 0 */
#define ZQVCAM_REQ_KIND 8    /* u32 ZQVCAM_KIND_... */
#define ZQVCAM_REQ_LETTER 12 /* u32 the drive letter, 'A' to 'Z' */
/* u32 the open's number: given by the driver to every open it passes on, and carried by the open
 * and by every device control and close made through it. Requests come in the order the
 * program made them, so an open always comes before the requests made through it (under Wine
 * the program does not wait for the answer to its open: its next call may be on its way
 * already). */
#define ZQVCAM_REQ_HANDLE 16
/* open: the share access, the create options (bits 24-31 the create disposition when
 * ZQVCAM_FLAG_ACCESS_GIVEN), the file attributes and the desired access;
 * control: the control code, the input size and the output size. */
#define ZQVCAM_REQ_ARG0 20
#define ZQVCAM_REQ_ARG1 24
#define ZQVCAM_REQ_ARG2 28
#define ZQVCAM_REQ_ARG3 32
#define ZQVCAM_REQ_FLAGS 36 /* u32 ZQVCAM_FLAG_... */
#define ZQVCAM_REQ_HEAD 40  /* control: the input bytes follow */

#define ZQVCAM_KIND_OPEN 1u    /* IRP_MJ_CREATE on the letter device; answered with a handle */
#define ZQVCAM_KIND_CONTROL 2u /* IRP_MJ_DEVICE_CONTROL, METHOD_BUFFERED */
#define ZQVCAM_KIND_CLOSE 3u   /* IRP_MJ_CLOSE of an open passed on; a notice, not answered */

/* The system gave the driver the open's desired access and create disposition. (Wine does not:
 * its driver host passes the share access and the create options only.) */
#define ZQVCAM_FLAG_ACCESS_GIVEN 0x1u
/* A device control of a 64-bit process: its pass-through head is the 64-bit form (a 64-bit driver
 * sets it for every caller that is no 32-bit process; a 32-bit driver never does). */
#define ZQVCAM_FLAG_CALLER64 0x2u

/* The largest input and output of a device control the driver passes on. */
#define ZQVCAM_DATA_MAX 65536u
#define ZQVCAM_REQUEST_MAX (ZQVCAM_REQ_HEAD + ZQVCAM_DATA_MAX)

/* ---- answer record (service -> driver) ---- */
#define ZQVCAM_ANS_LENGTH 0       /* u32 length of the whole record */
#define ZQVCAM_ANS_ID 4           /* u32 the request answered */
#define ZQVCAM_ANS_STATUS 8       /* u32 the NTSTATUS the program's request completes with */
#define ZQVCAM_ANS_HANDLE 12      /* u32 open: the service's own handle for it, for the record */
#define ZQVCAM_ANS_INFORMATION 16 /* u32 control: the bytes returned, at most the output size */
#define ZQVCAM_ANS_HEAD 20        /* control: the `information` output bytes follow */
#define ZQVCAM_ANSWER_MAX (ZQVCAM_ANS_HEAD + ZQVCAM_DATA_MAX)

/* ---- letter record (service -> driver), 8 bytes ---- */
#define ZQVCAM_LET_LETTER 0 /* u32 'A' to 'Z' */
#define ZQVCAM_LET_FLAGS 4  /* u32 ZQVCAM_LETTER_... */
#define ZQVCAM_LET_SIZE 8

#define ZQVCAM_LETTER_PRESENT 0x1u   /* link the letter to the letter device; else remove it */
#define ZQVCAM_LETTER_REMOVABLE 0x2u /* the device reports removable media */

/* ---- status record (driver -> anyone) ---- */
#define ZQVCAM_ST_LENGTH 0      /* u32 ZQVCAM_STATUS_SIZE */
#define ZQVCAM_ST_VERSION 4     /* u32 ZQVCAM_PROTOCOL_VERSION */
#define ZQVCAM_ST_ATTACHED 8    /* u32 1 while a service is attached */
#define ZQVCAM_ST_FORWARDED 12  /* u32 requests handed to a service */
#define ZQVCAM_ST_ANSWERED 16   /* u32 requests completed with the service's answer */
#define ZQVCAM_ST_TIMED_OUT 20  /* u32 requests failed because no answer came in time */
#define ZQVCAM_ST_CANCELLED 24  /* u32 requests cancelled by their program */
#define ZQVCAM_ST_ABANDONED 28  /* u32 requests failed because the service went or never was */
#define ZQVCAM_ST_TIMEOUT_MS 32 /* u32 the request time-out in force */
#define ZQVCAM_ST_ATTACHES 36   /* u32 services attached since the driver started */
#define ZQVCAM_ST_LETTERS 40    /* 26 letter entries, A to Z, 16 bytes each: */
#define ZQVCAM_STL_FLAGS 0      /*   u32 ZQVCAM_LETTER_... as last set */
#define ZQVCAM_STL_OPEN 4       /*   u32 opens passed on, neither closed nor refused */
#define ZQVCAM_STL_OPENED 8     /*   u32 opens passed on, in all */
#define ZQVCAM_STL_CLOSED 12    /*  u32 closes of opens that counted as open, in all */
#define ZQVCAM_STL_SIZE 16
#define ZQVCAM_STATUS_SIZE (ZQVCAM_ST_LETTERS + 26 * ZQVCAM_STL_SIZE)

/* ---- little-endian access ---- */
static __inline unsigned long zqvcam_get32(const unsigned char* bytes, unsigned offset) {
    return (unsigned long)bytes[offset] | ((unsigned long)bytes[offset + 1] << 8) |
           ((unsigned long)bytes[offset + 2] << 16) | ((unsigned long)bytes[offset + 3] << 24);
}

static __inline void zqvcam_put32(unsigned char* bytes, unsigned offset, unsigned long value) {
    bytes[offset] = (unsigned char)(value & 0xFFu);
    bytes[offset + 1] = (unsigned char)((value >> 8) & 0xFFu);
    bytes[offset + 2] = (unsigned char)((value >> 16) & 0xFFu);
    bytes[offset + 3] = (unsigned char)((value >> 24) & 0xFFu);
}

#endif /* ZELQUIN_VCAM_PROTOCOL_H */
