/* The kernel-mode camera driver: a root-enumerated device that registers the
 * camera interface, writes the camera's twelve registry values, and serves
 * the camera's requests through the shared core. */
#include <initguid.h>

#include "driver.h"

DEFINE_GUID(GUID_TQCAM_INTERFACE, 0x4ACC4CE4, 0x6A08, 0x4A8C, 0xAB, 0x7A, 0xFC, 0xBD, 0x87, 0x7B,
            0x16, 0xA8);

static LONG serialCounter;

static NTSTATUS CompleteNow(PIRP irp, NTSTATUS status) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* "TQW" and five digits, from a counter of devices added since load. */
static void MakeSerial(char serial[16]) {
    ULONG n = (ULONG)InterlockedIncrement(&serialCounter) % 100000;
    serial[0] = 'T';
    serial[1] = 'Q';
    serial[2] = 'W';
    for (int i = 7; i >= 3; --i) {
        serial[i] = (char)('0' + n % 10);
        n /= 10;
    }
    serial[8] = '\0';
}

static void WriteValue(HANDLE key, const TQCORE_REGISTRY_DEFAULT *value) {
    WCHAR name[40];
    WCHAR text[64];
    ULONG i = 0;
    for (; value->name[i] != '\0' && i < 39; ++i) {
        name[i] = (WCHAR)value->name[i];
    }
    name[i] = 0;
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    if (value->is_text) {
        ULONG n = 0;
        for (; value->text[n] != '\0' && n < 63; ++n) {
            text[n] = (WCHAR)value->text[n];
        }
        text[n] = 0;
        ZwSetValueKey(key, &valueName, 0, REG_SZ, text, (n + 1) * sizeof(WCHAR));
    } else {
        ULONG number = value->number;
        ZwSetValueKey(key, &valueName, 0, REG_DWORD, &number, sizeof number);
    }
}

static NTSTATUS WriteRegistryValues(PDEVICE_OBJECT pdo, const char *serial) {
    HANDLE key;
    NTSTATUS status = IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_ALL_ACCESS, &key);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    for (int i = 0; i < TQPROTO_REGISTRY_VALUE_COUNT; ++i) {
        TQCORE_REGISTRY_DEFAULT value;
        TqcoreRegistryDefault(i, serial, &value);
        WriteValue(key, &value);
    }
    ZwClose(key);
    return STATUS_SUCCESS;
}

static NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
    PDEVICE_OBJECT self;
    NTSTATUS status = IoCreateDevice(driver, sizeof(TQCAM_DEVICE), NULL, FILE_DEVICE_UNKNOWN,
                                     FILE_DEVICE_SECURE_OPEN, FALSE, &self);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    TQCAM_DEVICE *device = self->DeviceExtension;
    RtlZeroMemory(device, sizeof *device);
    device->self = self;
    device->pdo = pdo;
    KeInitializeSpinLock(&device->lock);
    InitializeListHead(&device->files);
    InitializeListHead(&device->jobs);
    for (int lane = 0; lane < TQCAM_LANES; ++lane) {
        InitializeListHead(&device->lanes[lane]);
        KeInitializeEvent(&device->wake[lane], SynchronizationEvent, FALSE);
    }
    device->nextSeq = 1;
    TQCORE_SENSOR sensor;
    TqcoreDefaultSensor(&sensor);
    char serial[16];
    MakeSerial(serial);
    RtlCopyMemory(sensor.serial, serial, sizeof serial);
    TqcoreInitCamera(&device->camera, &sensor);
    status = IoRegisterDeviceInterface(pdo, &GUID_TQCAM_INTERFACE, NULL, &device->interfaceName);
    if (NT_SUCCESS(status)) {
        status = WriteRegistryValues(pdo, serial);
    }
    if (NT_SUCCESS(status)) {
        status = StartService(device);
    }
    if (NT_SUCCESS(status)) {
        device->lower = IoAttachDeviceToDeviceStack(self, pdo);
        if (device->lower == NULL) {
            StopService(device);
            status = STATUS_NO_SUCH_DEVICE;
        }
    }
    if (!NT_SUCCESS(status)) {
        RtlFreeUnicodeString(&device->interfaceName);
        IoDeleteDevice(self);
        return status;
    }
    self->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static NTSTATUS NTAPI OnLowerDone(PDEVICE_OBJECT self, PIRP irp, PVOID context) {
    (void)self;
    (void)irp;
    KeSetEvent(context, IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

static NTSTATUS ForwardAndWait(TQCAM_DEVICE *device, PIRP irp) {
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, OnLowerDone, &done, TRUE, TRUE, TRUE);
    if (IoCallDriver(device->lower, irp) == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
    }
    return irp->IoStatus.Status;
}

static NTSTATUS PassDown(TQCAM_DEVICE *device, PIRP irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(device->lower, irp);
}

/* The camera is gone: its pending requests end, new ones are refused. */
static void Unplug(TQCAM_DEVICE *device) {
    KIRQL irql;
    KeAcquireSpinLock(&device->lock, &irql);
    const BOOLEAN first = !device->removed;
    device->removed = TRUE;
    AbortJobs(device, NULL, STATUS_DEVICE_REMOVED, FALSE);
    KeReleaseSpinLock(&device->lock, irql);
    WakeService(device);
    if (first && device->started) {
        IoSetDeviceInterfaceState(&device->interfaceName, FALSE);
    }
}

static NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT self, PIRP irp) {
    TQCAM_DEVICE *device = self->DeviceExtension;
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE: {
        NTSTATUS status = ForwardAndWait(device, irp);
        if (NT_SUCCESS(status)) {
            status = IoSetDeviceInterfaceState(&device->interfaceName, TRUE);
            device->started = NT_SUCCESS(status);
        }
        irp->IoStatus.Status = status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    case IRP_MN_SURPRISE_REMOVAL:
        Unplug(device);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(device, irp);
    case IRP_MN_REMOVE_DEVICE: {
        Unplug(device);
        StopService(device);
        irp->IoStatus.Status = STATUS_SUCCESS;
        const NTSTATUS status = PassDown(device, irp);
        IoDetachDevice(device->lower);
        RtlFreeUnicodeString(&device->interfaceName);
        IoDeleteDevice(self);
        return status;
    }
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(device, irp);
    default:
        return PassDown(device, irp);
    }
}

static NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT self, PIRP irp) {
    TQCAM_DEVICE *device = self->DeviceExtension;
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(device->lower, irp);
}

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT self, PIRP irp) {
    TQCAM_DEVICE *device = self->DeviceExtension;
    KIRQL irql;
    KeAcquireSpinLock(&device->lock, &irql);
    NTSTATUS status = device->removed ? STATUS_DEVICE_REMOVED : device->openFailure;
    device->openFailure = STATUS_SUCCESS;
    KeReleaseSpinLock(&device->lock, irql);
    if (status != STATUS_SUCCESS) {
        return CompleteNow(irp, status);
    }
    TQCAM_FILE *file = ExAllocatePoolWithTag(NonPagedPool, sizeof *file, TQCAM_TAG);
    if (file == NULL) {
        return CompleteNow(irp, STATUS_INSUFFICIENT_RESOURCES);
    }
    RtlZeroMemory(file, sizeof *file);
    file->device = device;
    file->references = 1;
    KeAcquireSpinLock(&device->lock, &irql);
    InsertTailList(&device->files, &file->link);
    KeReleaseSpinLock(&device->lock, irql);
    IoGetCurrentIrpStackLocation(irp)->FileObject->FsContext = file;
    return CompleteNow(irp, STATUS_SUCCESS);
}

/* The handle's last user let go: its pending requests end as cancelled. */
static NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT self, PIRP irp) {
    TQCAM_DEVICE *device = self->DeviceExtension;
    TQCAM_FILE *file = IoGetCurrentIrpStackLocation(irp)->FileObject->FsContext;
    if (file != NULL) {
        KIRQL irql;
        KeAcquireSpinLock(&device->lock, &irql);
        AbortJobs(device, file, STATUS_CANCELLED, FALSE);
        KeReleaseSpinLock(&device->lock, irql);
        WakeService(device);
    }
    return CompleteNow(irp, STATUS_SUCCESS);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT self, PIRP irp) {
    TQCAM_DEVICE *device = self->DeviceExtension;
    PFILE_OBJECT fileObject = IoGetCurrentIrpStackLocation(irp)->FileObject;
    TQCAM_FILE *file = fileObject->FsContext;
    if (file != NULL) {
        KIRQL irql;
        KeAcquireSpinLock(&device->lock, &irql);
        RemoveEntryList(&file->link);
        ReleaseFile(file); /* the jobs still ending keep it */
        KeReleaseSpinLock(&device->lock, irql);
        fileObject->FsContext = NULL;
    }
    return CompleteNow(irp, STATUS_SUCCESS);
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver) {
    (void)driver;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    (void)registryPath;
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}
