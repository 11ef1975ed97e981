/* zqvcam.sys, the virtual camera driver: a small legacy WDM driver that presents drive letters
 * and passes every open, device control and close sent to them up to a user-mode camera service
 * (vcam/protocol.h). It knows nothing of cameras: what a letter answers is the service's affair.
 *
 * Devices:
 *   \Device\ZelquinVcam    the control device, \\.\ZelquinVcam: the service attaches there,
 *                          takes the requests, answers them and presents or withdraws letters;
 *                          anyone may read the status record.
 *   \Device\ZelquinVcamX   the device of letter X, made the first time X is presented and kept
 *                          until the driver unloads; \DosDevices\Global\X: links to it while X is
 *                          present.
 *
 * Every request a program sends to a letter device is queued and the program's IRP is held
 * pending (with a cancel routine) until the service answers it, until the request time-out
 * passes (a periodic timer looks every 250 ms) or until the service's handle goes; a request
 * made while no service is attached fails at once. Handles opened through one service are dead
 * for the next.
 *
 * Built with mingw-w64 for 32-bit Windows: loaded by Wine's winedevice.exe, and written for the
 * Windows kernel as well (docs/vcam.md: test-signing, not tried here).
 */
#include <ntddk.h>

#include "vcam/protocol.h"

#define ZQVCAM_POOL_TAG 0x6D61635A /* 'Zcam' */
#define LETTER_COUNT 26
#define CONTROL_MARK 0xFFFFFFFFu
/* FsContext of a letter device's file object: the open's number (the handle the service knows
 * it by), ROOT_OPEN for the drive's root, 0 for an open made while no service was attached.
 * FsContext2: the generation of the service the open was passed to while it counts as open; 0
 * once it is closed, refused or given up. */
#define ROOT_OPEN 0xFFFFFFFFu
#define TIMER_PERIOD_MS 250u
/* A letter's link, in the global namespace whatever the session of the thread that makes it
 * (the service's); the X is at LETTER_LINK_AT. */
#define LETTER_LINK_TEXT L"\\DosDevices\\Global\\X:"
#define LETTER_LINK_AT ((sizeof(LETTER_LINK_TEXT) / sizeof(WCHAR)) - 3)
#define HUNDRED_NS_PER_MS 10000LL

/* A program's request on its way through the service, or a close notice (irp NULL). */
typedef struct Pending {
    LIST_ENTRY link;
    PIRP irp;
    PFILE_OBJECT file;
    ULONG id;
    ULONG kind;
    ULONG letter; /* 0 for A */
    ULONG generation;
    ULONG outputSize;
    ULONG deadline; /* the tick of the time-out timer after which it fails */
    ULONG length;
    UCHAR record[1];
} Pending;

typedef struct Letter {
    PDEVICE_OBJECT device;
    ULONG flags;
    ULONG open;
    ULONG opened;
    ULONG closed;
} Letter;

static struct {
    PDEVICE_OBJECT control;
    KSPIN_LOCK lock;
    LIST_ENTRY queued; /* not yet taken by the service */
    LIST_ENTRY handed; /* taken, waiting for the answer */
    PIRP waiter;       /* the service's pending NEXT_REQUEST */
    PFILE_OBJECT service;
    ULONG generation; /* changes whenever a service attaches or goes */
    ULONG nextId;
    ULONG nextOpen;
    ULONG timeoutMs;
    ULONG forwarded;
    ULONG answered;
    ULONG timedOut;
    ULONG cancelled;
    ULONG abandoned;
    ULONG attaches;
    Letter letters[LETTER_COUNT];
    ULONG ticks; /* of the time-out timer, every TIMER_PERIOD_MS: the driver's own clock */
    KTIMER timer;
    KDPC dpc;
} g;

/* ---- small helpers ---- */

static NTSTATUS Finish(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static ULONG DeviceMark(PDEVICE_OBJECT device) {
    return *(const ULONG*)device->DeviceExtension;
}

static Pending* NewPending(ULONG kind, ULONG letter, ULONG dataLength) {
    const ULONG length = ZQVCAM_REQ_HEAD + dataLength;
    Pending* p =
        (Pending*)ExAllocatePoolWithTag(NonPagedPool, sizeof(Pending) + length, ZQVCAM_POOL_TAG);
    if (p == NULL) {
        return NULL;
    }
    RtlZeroMemory(p, sizeof(Pending) + length);
    p->kind = kind;
    p->letter = letter;
    p->length = length;
    zqvcam_put32(p->record, ZQVCAM_REQ_LENGTH, length);
    zqvcam_put32(p->record, ZQVCAM_REQ_KIND, kind);
    zqvcam_put32(p->record, ZQVCAM_REQ_LETTER, 'A' + letter);
    return p;
}

/* Called with the lock held. */
static ULONG NextIdLocked(void) {
    if (++g.nextId == 0) {
        ++g.nextId;
    }
    return g.nextId;
}

/* Called with the lock held. */
static ULONG NextOpenLocked(void) {
    if (++g.nextOpen == 0 || g.nextOpen == ROOT_OPEN) {
        g.nextOpen = 1;
    }
    return g.nextOpen;
}

static void FreePending(Pending* p) {
    ExFreePoolWithTag(p, ZQVCAM_POOL_TAG);
}

/* Called with the lock held: moves the first queued request into the service's waiting
 * NEXT_REQUEST call. Returns that call, to be completed once the lock is released, or NULL. */
static PIRP HandOffLocked(void) {
    PIRP waiter = g.waiter;
    Pending* p;
    if (waiter == NULL || IsListEmpty(&g.queued)) {
        return NULL;
    }
    if (IoSetCancelRoutine(waiter, NULL) == NULL) {
        return NULL; /* being cancelled: its cancel routine lets go of it */
    }
    g.waiter = NULL;
    p = CONTAINING_RECORD(RemoveHeadList(&g.queued), Pending, link);
    RtlCopyMemory(waiter->AssociatedIrp.SystemBuffer, p->record, p->length);
    waiter->IoStatus.Status = STATUS_SUCCESS;
    waiter->IoStatus.Information = p->length;
    ++g.forwarded;
    if (p->irp != NULL) {
        InsertTailList(&g.handed, &p->link);
    } else {
        FreePending(p); /* a close notice needs no answer */
    }
    return waiter;
}

static void CompleteWaiter(PIRP waiter) {
    if (waiter != NULL) {
        IoCompleteRequest(waiter, IO_NO_INCREMENT);
    }
}

/* Called with the lock held, for a request that fails without the service's answer: an open
 * that fails no longer counts as open (on Windows its program never gets the handle; Wine has
 * handed the program one already, and the calls made on it fail from now on). */
static void ForgetFailedOpenLocked(Pending* p) {
    if (p->kind == ZQVCAM_KIND_OPEN && p->file != NULL && p->file->FsContext2 != NULL) {
        p->file->FsContext2 = NULL;
        --g.letters[p->letter].open;
    }
}

/* ---- cancellation ---- */

static VOID NTAPI CancelRequest(PDEVICE_OBJECT device, PIRP irp) {
    KIRQL irql;
    Pending* p = (Pending*)irp->Tail.Overlay.DriverContext[0];
    UNREFERENCED_PARAMETER(device);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&g.lock, &irql);
    RemoveEntryList(&p->link);
    ForgetFailedOpenLocked(p);
    ++g.cancelled;
    KeReleaseSpinLock(&g.lock, irql);
    FreePending(p);
    Finish(irp, STATUS_CANCELLED, 0);
}

static VOID NTAPI CancelWaiter(PDEVICE_OBJECT device, PIRP irp) {
    KIRQL irql;
    UNREFERENCED_PARAMETER(device);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&g.lock, &irql);
    if (g.waiter == irp) {
        g.waiter = NULL;
    }
    KeReleaseSpinLock(&g.lock, irql);
    Finish(irp, STATUS_CANCELLED, 0);
}

/* Called with the lock held: takes the requests of `list` whose IRP is not being cancelled (all
 * of them, or those past their deadline when `onlyExpired`) out of it and into `taken`; close
 * notices are dropped unless only the expired are taken. */
static void ClaimAllLocked(PLIST_ENTRY list, PLIST_ENTRY taken, BOOLEAN onlyExpired) {
    PLIST_ENTRY entry = list->Flink;
    while (entry != list) {
        Pending* p = CONTAINING_RECORD(entry, Pending, link);
        entry = entry->Flink;
        if (p->irp == NULL) {
            if (!onlyExpired) {
                RemoveEntryList(&p->link);
                FreePending(p);
            }
            continue;
        }
        if (onlyExpired && (LONG)(g.ticks - p->deadline) < 0) {
            continue;
        }
        if (IoSetCancelRoutine(p->irp, NULL) != NULL) {
            RemoveEntryList(&p->link);
            ForgetFailedOpenLocked(p);
            InsertTailList(taken, &p->link);
        }
    }
}

static ULONG FailAll(PLIST_ENTRY taken, NTSTATUS status) {
    ULONG count = 0;
    while (!IsListEmpty(taken)) {
        Pending* p = CONTAINING_RECORD(RemoveHeadList(taken), Pending, link);
        PIRP irp = p->irp;
        FreePending(p);
        Finish(irp, status, 0);
        ++count;
    }
    return count;
}

/* ---- the time-out ---- */

static VOID NTAPI TimerTick(PKDPC dpc, PVOID context, PVOID arg1, PVOID arg2) {
    LIST_ENTRY expired;
    KIRQL irql;
    ULONG count;
    UNREFERENCED_PARAMETER(dpc);
    UNREFERENCED_PARAMETER(context);
    UNREFERENCED_PARAMETER(arg1);
    UNREFERENCED_PARAMETER(arg2);
    InitializeListHead(&expired);
    KeAcquireSpinLock(&g.lock, &irql);
    ++g.ticks;
    ClaimAllLocked(&g.queued, &expired, TRUE);
    ClaimAllLocked(&g.handed, &expired, TRUE);
    KeReleaseSpinLock(&g.lock, irql);
    count = FailAll(&expired, STATUS_IO_TIMEOUT);
    if (count != 0) {
        KeAcquireSpinLock(&g.lock, &irql);
        g.timedOut += count;
        KeReleaseSpinLock(&g.lock, irql);
        DbgPrint("zqvcam: %lu request(s) got no answer in time\n", count);
    }
}

/* ---- queueing a program's request ---- */

/* Queues `p` (whose IRP is the program's) for the service. A device control is refused when the
 * service its open was passed to is not the one attached now (`generation`); an open is
 * numbered, and counts as open from here on, when a service is attached. The IRP is pending
 * from here on; the routine always returns STATUS_PENDING. */
static NTSTATUS Submit(Pending* p, ULONG generation) {
    PIRP irp = p->irp;
    PIRP waiter;
    KIRQL irql;
    IoMarkIrpPending(irp);
    irp->Tail.Overlay.DriverContext[0] = p;
    KeAcquireSpinLock(&g.lock, &irql);
    if (g.service == NULL || (p->kind != ZQVCAM_KIND_OPEN && generation != g.generation)) {
        ++g.abandoned;
        KeReleaseSpinLock(&g.lock, irql);
        FreePending(p);
        Finish(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
        return STATUS_PENDING;
    }
    if (p->kind == ZQVCAM_KIND_OPEN) {
        const ULONG number = NextOpenLocked();
        zqvcam_put32(p->record, ZQVCAM_REQ_HANDLE, number);
        p->file->FsContext = (PVOID)(ULONG_PTR)number;
        p->file->FsContext2 = (PVOID)(ULONG_PTR)g.generation;
        ++g.letters[p->letter].open;
        ++g.letters[p->letter].opened;
    }
    p->id = NextIdLocked();
    zqvcam_put32(p->record, ZQVCAM_REQ_ID, p->id);
    p->generation = g.generation;
    /* Counted in ticks of the timer, so a request fails between the time-out and one period
     * after it. */
    p->deadline = g.ticks + (g.timeoutMs + TIMER_PERIOD_MS - 1) / TIMER_PERIOD_MS + 1;
    InsertTailList(&g.queued, &p->link);
    IoSetCancelRoutine(irp, CancelRequest);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
        RemoveEntryList(&p->link);
        ForgetFailedOpenLocked(p);
        ++g.cancelled;
        KeReleaseSpinLock(&g.lock, irql);
        FreePending(p);
        Finish(irp, STATUS_CANCELLED, 0);
        return STATUS_PENDING;
    }
    waiter = HandOffLocked();
    KeReleaseSpinLock(&g.lock, irql);
    CompleteWaiter(waiter);
    return STATUS_PENDING;
}

/* ---- the letter devices ---- */

static NTSTATUS LetterCreate(ULONG letter, PIRP irp, PIO_STACK_LOCATION stack) {
    PFILE_OBJECT file = stack->FileObject;
    Pending* p;
    ULONG flags = 0;
    ULONG access = 0;
    if (file == NULL) {
        return Finish(irp, STATUS_INVALID_PARAMETER, 0);
    }
    file->FsContext = NULL;
    file->FsContext2 = NULL;
    if (file->FileName.Length != 0) {
        /* A path inside the device: the system looking at the drive's root (its drive type);
         * nothing else lives there. */
        const BOOLEAN root =
            file->FileName.Length == sizeof(WCHAR) && file->FileName.Buffer[0] == L'\\';
        file->FsContext = (PVOID)(ULONG_PTR)ROOT_OPEN;
        return Finish(irp, root ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND, 0);
    }
    p = NewPending(ZQVCAM_KIND_OPEN, letter, 0);
    if (p == NULL) {
        return Finish(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    }
    if (stack->Parameters.Create.SecurityContext != NULL) {
        access = stack->Parameters.Create.SecurityContext->DesiredAccess;
        flags |= ZQVCAM_FLAG_ACCESS_GIVEN;
    }
    zqvcam_put32(p->record, ZQVCAM_REQ_ARG0, stack->Parameters.Create.ShareAccess);
    zqvcam_put32(p->record, ZQVCAM_REQ_ARG1, stack->Parameters.Create.Options);
    zqvcam_put32(p->record, ZQVCAM_REQ_ARG2, stack->Parameters.Create.FileAttributes);
    zqvcam_put32(p->record, ZQVCAM_REQ_ARG3, access);
    zqvcam_put32(p->record, ZQVCAM_REQ_FLAGS, flags);
    p->irp = irp;
    p->file = file;
    return Submit(p, 0);
}

static NTSTATUS LetterControl(ULONG letter, PIRP irp, PIO_STACK_LOCATION stack) {
    PFILE_OBJECT file = stack->FileObject;
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    const ULONG number = file != NULL ? (ULONG)(ULONG_PTR)file->FsContext : ROOT_OPEN;
    const ULONG generation = file != NULL ? (ULONG)(ULONG_PTR)file->FsContext2 : 0;
    Pending* p;
    KIRQL irql;
    if (number == ROOT_OPEN) {
        return Finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    if (generation == 0) {
        /* The open was made while no service was attached, or refused, or given up. */
        KeAcquireSpinLock(&g.lock, &irql);
        ++g.abandoned;
        KeReleaseSpinLock(&g.lock, irql);
        return Finish(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    }
    if ((code & 3u) != METHOD_BUFFERED) {
        return Finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    if (inSize > ZQVCAM_DATA_MAX || outSize > ZQVCAM_DATA_MAX) {
        return Finish(irp, STATUS_INVALID_BUFFER_SIZE, 0);
    }
    p = NewPending(ZQVCAM_KIND_CONTROL, letter, inSize);
    if (p == NULL) {
        return Finish(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    }
    zqvcam_put32(p->record, ZQVCAM_REQ_HANDLE, number);
    zqvcam_put32(p->record, ZQVCAM_REQ_ARG0, code);
    zqvcam_put32(p->record, ZQVCAM_REQ_ARG1, inSize);
    zqvcam_put32(p->record, ZQVCAM_REQ_ARG2, outSize);
#if defined(_WIN64)
    /* The records in the caller's buffer have the caller's width. */
    if (!IoIs32bitProcess(irp)) {
        zqvcam_put32(p->record, ZQVCAM_REQ_FLAGS, ZQVCAM_FLAG_CALLER64);
    }
#endif
    if (inSize != 0) {
        RtlCopyMemory(p->record + ZQVCAM_REQ_HEAD, irp->AssociatedIrp.SystemBuffer, inSize);
    }
    p->irp = irp;
    p->file = file;
    p->outputSize = outSize;
    return Submit(p, generation);
}

/* Called with the lock held: requests still waiting for the service stop referring to `file`,
 * which the system frees once its close is done (Wine does not wait for the answer to an open,
 * so an open may still be waiting when its close comes). */
static void DetachFileLocked(PFILE_OBJECT file) {
    PLIST_ENTRY lists[2];
    ULONG i;
    lists[0] = &g.queued;
    lists[1] = &g.handed;
    for (i = 0; i < 2; ++i) {
        PLIST_ENTRY entry;
        for (entry = lists[i]->Flink; entry != lists[i]; entry = entry->Flink) {
            Pending* p = CONTAINING_RECORD(entry, Pending, link);
            if (p->file == file) {
                p->file = NULL;
            }
        }
    }
}

static NTSTATUS LetterClose(ULONG letter, PIRP irp, PIO_STACK_LOCATION stack) {
    PFILE_OBJECT file = stack->FileObject;
    Pending* notice;
    PIRP waiter = NULL;
    KIRQL irql;
    if (file == NULL || (ULONG)(ULONG_PTR)file->FsContext == ROOT_OPEN) {
        return Finish(irp, STATUS_SUCCESS, 0);
    }
    notice = NewPending(ZQVCAM_KIND_CLOSE, letter, 0);
    KeAcquireSpinLock(&g.lock, &irql);
    DetachFileLocked(file);
    if (file->FsContext2 != NULL) {
        const ULONG generation = (ULONG)(ULONG_PTR)file->FsContext2;
        file->FsContext2 = NULL;
        --g.letters[letter].open;
        ++g.letters[letter].closed;
        if (notice != NULL && g.service != NULL && generation == g.generation) {
            zqvcam_put32(notice->record, ZQVCAM_REQ_HANDLE, (ULONG)(ULONG_PTR)file->FsContext);
            notice->id = NextIdLocked();
            zqvcam_put32(notice->record, ZQVCAM_REQ_ID, notice->id);
            InsertTailList(&g.queued, &notice->link);
            notice = NULL;
            waiter = HandOffLocked();
        }
    }
    KeReleaseSpinLock(&g.lock, irql);
    if (notice != NULL) {
        FreePending(notice);
    }
    CompleteWaiter(waiter);
    return Finish(irp, STATUS_SUCCESS, 0);
}

/* ---- the control device ---- */

static NTSTATUS Attach(PIRP irp, PIO_STACK_LOCATION stack) {
    const UCHAR* in = (const UCHAR*)irp->AssociatedIrp.SystemBuffer;
    ULONG timeout;
    KIRQL irql;
    if (stack->Parameters.DeviceIoControl.InputBufferLength < ZQVCAM_ATTACH_SIZE) {
        return Finish(irp, STATUS_INVALID_PARAMETER, 0);
    }
    if (zqvcam_get32(in, ZQVCAM_ATTACH_VERSION) != ZQVCAM_PROTOCOL_VERSION) {
        return Finish(irp, STATUS_REVISION_MISMATCH, 0);
    }
    timeout = (ULONG)zqvcam_get32(in, ZQVCAM_ATTACH_TIMEOUT);
    if (timeout == 0) {
        timeout = ZQVCAM_DEFAULT_TIMEOUT_MS;
    } else if (timeout < ZQVCAM_MIN_TIMEOUT_MS) {
        timeout = ZQVCAM_MIN_TIMEOUT_MS;
    } else if (timeout > ZQVCAM_MAX_TIMEOUT_MS) {
        timeout = ZQVCAM_MAX_TIMEOUT_MS;
    }
    KeAcquireSpinLock(&g.lock, &irql);
    if (g.service != NULL) {
        KeReleaseSpinLock(&g.lock, irql);
        return Finish(irp, STATUS_DEVICE_BUSY, 0);
    }
    g.service = stack->FileObject;
    ++g.generation;
    ++g.attaches;
    g.timeoutMs = timeout;
    KeReleaseSpinLock(&g.lock, irql);
    DbgPrint("zqvcam: a camera service attached (time-out %lu ms)\n", timeout);
    return Finish(irp, STATUS_SUCCESS, 0);
}

/* The service's handle goes (its process may have died): every request it has not answered
 * fails, and so does every request until the next service attaches. */
static void Detach(PFILE_OBJECT file) {
    LIST_ENTRY taken;
    PIRP waiter = NULL;
    KIRQL irql;
    ULONG count;
    InitializeListHead(&taken);
    KeAcquireSpinLock(&g.lock, &irql);
    if (file == NULL || g.service != file) {
        KeReleaseSpinLock(&g.lock, irql);
        return;
    }
    g.service = NULL;
    ++g.generation;
    if (g.waiter != NULL && IoSetCancelRoutine(g.waiter, NULL) != NULL) {
        waiter = g.waiter;
        g.waiter = NULL;
    }
    ClaimAllLocked(&g.queued, &taken, FALSE);
    ClaimAllLocked(&g.handed, &taken, FALSE);
    KeReleaseSpinLock(&g.lock, irql);
    if (waiter != NULL) {
        Finish(waiter, STATUS_CANCELLED, 0);
    }
    count = FailAll(&taken, STATUS_DEVICE_NOT_CONNECTED);
    KeAcquireSpinLock(&g.lock, &irql);
    g.abandoned += count;
    KeReleaseSpinLock(&g.lock, irql);
    DbgPrint("zqvcam: the camera service went; %lu request(s) failed\n", count);
}

static NTSTATUS NextRequest(PIRP irp, PIO_STACK_LOCATION stack) {
    PIRP waiter;
    KIRQL irql;
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < ZQVCAM_REQUEST_MAX) {
        return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
    }
    IoMarkIrpPending(irp);
    KeAcquireSpinLock(&g.lock, &irql);
    if (g.service != stack->FileObject || g.waiter != NULL) {
        const NTSTATUS refusal =
            g.service != stack->FileObject ? STATUS_ACCESS_DENIED : STATUS_DEVICE_BUSY;
        KeReleaseSpinLock(&g.lock, irql);
        Finish(irp, refusal, 0);
        return STATUS_PENDING;
    }
    g.waiter = irp;
    IoSetCancelRoutine(irp, CancelWaiter);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
        g.waiter = NULL;
        KeReleaseSpinLock(&g.lock, irql);
        Finish(irp, STATUS_CANCELLED, 0);
        return STATUS_PENDING;
    }
    waiter = HandOffLocked();
    KeReleaseSpinLock(&g.lock, irql);
    CompleteWaiter(waiter);
    return STATUS_PENDING;
}

static NTSTATUS Answer(PIRP irp, PIO_STACK_LOCATION stack) {
    const UCHAR* in = (const UCHAR*)irp->AssociatedIrp.SystemBuffer;
    const ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG id;
    ULONG length;
    NTSTATUS status;
    ULONG information;
    Pending* p = NULL;
    PLIST_ENTRY entry;
    PIRP request;
    KIRQL irql;
    if (inSize < ZQVCAM_ANS_HEAD) {
        return Finish(irp, STATUS_INVALID_PARAMETER, 0);
    }
    length = (ULONG)zqvcam_get32(in, ZQVCAM_ANS_LENGTH);
    id = (ULONG)zqvcam_get32(in, ZQVCAM_ANS_ID);
    status = (NTSTATUS)zqvcam_get32(in, ZQVCAM_ANS_STATUS);
    information = (ULONG)zqvcam_get32(in, ZQVCAM_ANS_INFORMATION);
    if (length < ZQVCAM_ANS_HEAD || length > inSize) {
        return Finish(irp, STATUS_INVALID_PARAMETER, 0);
    }
    KeAcquireSpinLock(&g.lock, &irql);
    if (g.service != stack->FileObject) {
        KeReleaseSpinLock(&g.lock, irql);
        return Finish(irp, STATUS_ACCESS_DENIED, 0);
    }
    for (entry = g.handed.Flink; entry != &g.handed; entry = entry->Flink) {
        Pending* candidate = CONTAINING_RECORD(entry, Pending, link);
        if (candidate->id == id) {
            p = candidate;
            break;
        }
    }
    if (p == NULL || IoSetCancelRoutine(p->irp, NULL) == NULL) {
        KeReleaseSpinLock(&g.lock, irql);
        return Finish(irp, STATUS_NOT_FOUND, 0); /* timed out or cancelled meanwhile */
    }
    RemoveEntryList(&p->link);
    ++g.answered;
    if (NT_ERROR(status)) {
        ForgetFailedOpenLocked(p);
    }
    KeReleaseSpinLock(&g.lock, irql);

    request = p->irp;
    if (p->kind != ZQVCAM_KIND_CONTROL || NT_ERROR(status)) {
        information = 0;
    } else if (information > p->outputSize || information > length - ZQVCAM_ANS_HEAD) {
        /* The service answered more than the program can take: a fault of the service. */
        status = STATUS_DEVICE_PROTOCOL_ERROR;
        information = 0;
    } else if (information != 0) {
        RtlCopyMemory(request->AssociatedIrp.SystemBuffer, in + ZQVCAM_ANS_HEAD, information);
    }
    FreePending(p);
    Finish(request, status, information);
    return Finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS MakeLetterDevice(ULONG letter) {
    WCHAR name[] = ZQVCAM_LETTER_DEVICE_PREFIX L"X";
    UNICODE_STRING deviceName;
    PDEVICE_OBJECT device;
    NTSTATUS status;
    name[(sizeof(name) / sizeof(WCHAR)) - 2] = (WCHAR)(L'A' + letter);
    RtlInitUnicodeString(&deviceName, name);
    /* Made as a device of no particular type, so that no file system is mounted on it and every
     * open comes here; then shown as a disk, the type that drive-type queries look for. */
    status = IoCreateDevice(g.control->DriverObject, sizeof(ULONG), &deviceName,
                            FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    *(ULONG*)device->DeviceExtension = letter;
    device->DeviceType = FILE_DEVICE_DISK;
    device->Flags |= DO_BUFFERED_IO;
    device->Flags &= ~(ULONG)DO_DEVICE_INITIALIZING;
    g.letters[letter].device = device;
    return STATUS_SUCCESS;
}

static NTSTATUS SetLetter(PIRP irp, PIO_STACK_LOCATION stack) {
    const UCHAR* in = (const UCHAR*)irp->AssociatedIrp.SystemBuffer;
    WCHAR linkText[] = LETTER_LINK_TEXT;
    WCHAR deviceText[] = ZQVCAM_LETTER_DEVICE_PREFIX L"X";
    UNICODE_STRING linkName;
    UNICODE_STRING deviceName;
    ULONG character;
    ULONG letter;
    ULONG flags;
    NTSTATUS status = STATUS_SUCCESS;
    BOOLEAN attached;
    KIRQL irql;
    if (stack->Parameters.DeviceIoControl.InputBufferLength < ZQVCAM_LET_SIZE) {
        return Finish(irp, STATUS_INVALID_PARAMETER, 0);
    }
    character = (ULONG)zqvcam_get32(in, ZQVCAM_LET_LETTER);
    flags = (ULONG)zqvcam_get32(in, ZQVCAM_LET_FLAGS);
    if (character < 'A' || character > 'Z') {
        return Finish(irp, STATUS_INVALID_PARAMETER, 0);
    }
    letter = character - 'A';
    KeAcquireSpinLock(&g.lock, &irql);
    attached = g.service == stack->FileObject;
    KeReleaseSpinLock(&g.lock, irql);
    if (!attached) {
        return Finish(irp, STATUS_ACCESS_DENIED, 0);
    }
    linkText[LETTER_LINK_AT] = (WCHAR)character;
    deviceText[(sizeof(deviceText) / sizeof(WCHAR)) - 2] = (WCHAR)character;
    RtlInitUnicodeString(&linkName, linkText);
    RtlInitUnicodeString(&deviceName, deviceText);

    if ((flags & ZQVCAM_LETTER_PRESENT) != 0) {
        if (g.letters[letter].device == NULL) {
            status = MakeLetterDevice(letter);
        }
        if (NT_SUCCESS(status)) {
            if ((flags & ZQVCAM_LETTER_REMOVABLE) != 0) {
                g.letters[letter].device->Characteristics |= FILE_REMOVABLE_MEDIA;
            } else {
                g.letters[letter].device->Characteristics &= ~(ULONG)FILE_REMOVABLE_MEDIA;
            }
            /* Whoever held the letter before (the system's mount manager may have made it) gives
             * it up to this device. */
            IoDeleteSymbolicLink(&linkName);
            status = IoCreateSymbolicLink(&linkName, &deviceName);
        }
    } else if ((g.letters[letter].flags & ZQVCAM_LETTER_PRESENT) != 0) {
        IoDeleteSymbolicLink(&linkName); /* only a link of this driver's is taken away */
    }
    if (NT_SUCCESS(status)) {
        KeAcquireSpinLock(&g.lock, &irql);
        g.letters[letter].flags = flags & (ZQVCAM_LETTER_PRESENT | ZQVCAM_LETTER_REMOVABLE);
        KeReleaseSpinLock(&g.lock, irql);
    }
    return Finish(irp, status, 0);
}

static NTSTATUS Status(PIRP irp, PIO_STACK_LOCATION stack) {
    UCHAR* out = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
    ULONG i;
    KIRQL irql;
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < ZQVCAM_STATUS_SIZE) {
        return Finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
    }
    RtlZeroMemory(out, ZQVCAM_STATUS_SIZE);
    KeAcquireSpinLock(&g.lock, &irql);
    zqvcam_put32(out, ZQVCAM_ST_LENGTH, ZQVCAM_STATUS_SIZE);
    zqvcam_put32(out, ZQVCAM_ST_VERSION, ZQVCAM_PROTOCOL_VERSION);
    zqvcam_put32(out, ZQVCAM_ST_ATTACHED, g.service != NULL ? 1 : 0);
    zqvcam_put32(out, ZQVCAM_ST_FORWARDED, g.forwarded);
    zqvcam_put32(out, ZQVCAM_ST_ANSWERED, g.answered);
    zqvcam_put32(out, ZQVCAM_ST_TIMED_OUT, g.timedOut);
    zqvcam_put32(out, ZQVCAM_ST_CANCELLED, g.cancelled);
    zqvcam_put32(out, ZQVCAM_ST_ABANDONED, g.abandoned);
    zqvcam_put32(out, ZQVCAM_ST_TIMEOUT_MS, g.timeoutMs);
    zqvcam_put32(out, ZQVCAM_ST_ATTACHES, g.attaches);
    for (i = 0; i < LETTER_COUNT; ++i) {
        const unsigned at = ZQVCAM_ST_LETTERS + i * ZQVCAM_STL_SIZE;
        zqvcam_put32(out, at + ZQVCAM_STL_FLAGS, g.letters[i].flags);
        zqvcam_put32(out, at + ZQVCAM_STL_OPEN, g.letters[i].open);
        zqvcam_put32(out, at + ZQVCAM_STL_OPENED, g.letters[i].opened);
        zqvcam_put32(out, at + ZQVCAM_STL_CLOSED, g.letters[i].closed);
    }
    KeReleaseSpinLock(&g.lock, irql);
    return Finish(irp, STATUS_SUCCESS, ZQVCAM_STATUS_SIZE);
}

static NTSTATUS ControlDeviceControl(PIRP irp, PIO_STACK_LOCATION stack) {
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case ZQVCAM_IOCTL_ATTACH:
            return Attach(irp, stack);
        case ZQVCAM_IOCTL_NEXT_REQUEST:
            return NextRequest(irp, stack);
        case ZQVCAM_IOCTL_ANSWER:
            return Answer(irp, stack);
        case ZQVCAM_IOCTL_SET_LETTER:
            return SetLetter(irp, stack);
        case ZQVCAM_IOCTL_STATUS:
            return Status(irp, stack);
        default:
            return Finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

/* ---- dispatch ---- */

static NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG mark = DeviceMark(device);
    if (mark == CONTROL_MARK) {
        switch (stack->MajorFunction) {
            case IRP_MJ_CREATE:
                return Finish(irp, STATUS_SUCCESS, 0);
            case IRP_MJ_CLEANUP: /* Windows: the handle is closed */
            case IRP_MJ_CLOSE:   /* Wine sends this one only */
                Detach(stack->FileObject);
                return Finish(irp, STATUS_SUCCESS, 0);
            case IRP_MJ_DEVICE_CONTROL:
                return ControlDeviceControl(irp, stack);
            default:
                return Finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
        }
    }
    switch (stack->MajorFunction) {
        case IRP_MJ_CREATE:
            return LetterCreate(mark, irp, stack);
        case IRP_MJ_DEVICE_CONTROL:
            return LetterControl(mark, irp, stack);
        case IRP_MJ_CLEANUP:
            return Finish(irp, STATUS_SUCCESS, 0);
        case IRP_MJ_CLOSE:
            return LetterClose(mark, irp, stack);
        default:
            return Finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

/* ---- loading and unloading ---- */

static VOID NTAPI Unload(PDRIVER_OBJECT driver) {
    UNICODE_STRING linkName;
    ULONG i;
    UNREFERENCED_PARAMETER(driver);
    KeCancelTimer(&g.timer);
    KeFlushQueuedDpcs();
    for (i = 0; i < LETTER_COUNT; ++i) {
        if (g.letters[i].device == NULL) {
            continue;
        }
        if ((g.letters[i].flags & ZQVCAM_LETTER_PRESENT) != 0) {
            WCHAR linkText[] = LETTER_LINK_TEXT;
            linkText[LETTER_LINK_AT] = (WCHAR)(L'A' + i);
            RtlInitUnicodeString(&linkName, linkText);
            IoDeleteSymbolicLink(&linkName);
        }
        IoDeleteDevice(g.letters[i].device);
    }
    RtlInitUnicodeString(&linkName, ZQVCAM_CONTROL_LINK_NAME);
    IoDeleteSymbolicLink(&linkName);
    IoDeleteDevice(g.control);
    DbgPrint("zqvcam: unloaded\n");
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    UNICODE_STRING deviceName;
    UNICODE_STRING linkName;
    LARGE_INTEGER due;
    NTSTATUS status;
    ULONG i;
    UNREFERENCED_PARAMETER(registryPath);

    RtlZeroMemory(&g, sizeof g);
    KeInitializeSpinLock(&g.lock);
    InitializeListHead(&g.queued);
    InitializeListHead(&g.handed);
    g.timeoutMs = ZQVCAM_DEFAULT_TIMEOUT_MS;

    RtlInitUnicodeString(&deviceName, ZQVCAM_CONTROL_DEVICE_NAME);
    status = IoCreateDevice(driver, sizeof(ULONG), &deviceName, FILE_DEVICE_UNKNOWN, 0, FALSE,
                            &g.control);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    *(ULONG*)g.control->DeviceExtension = CONTROL_MARK;
    g.control->Flags |= DO_BUFFERED_IO;
    g.control->Flags &= ~(ULONG)DO_DEVICE_INITIALIZING;
    RtlInitUnicodeString(&linkName, ZQVCAM_CONTROL_LINK_NAME);
    status = IoCreateSymbolicLink(&linkName, &deviceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(g.control);
        return status;
    }

    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) {
        driver->MajorFunction[i] = Dispatch;
    }
    driver->DriverUnload = Unload;

    KeInitializeDpc(&g.dpc, TimerTick, NULL);
    KeInitializeTimer(&g.timer);
    due.QuadPart = -(LONGLONG)TIMER_PERIOD_MS * HUNDRED_NS_PER_MS;
    KeSetTimerEx(&g.timer, due, (LONG)TIMER_PERIOD_MS, &g.dpc);
    DbgPrint("zqvcam: loaded\n");
    return STATUS_SUCCESS;
}
