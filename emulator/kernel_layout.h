/*
 * Where the emulated kernel finds and puts the fields of the system's
 * structures that it shares with a driver, for i386 and for x64: one table,
 * held to mingw-w64's kernel headers when the Windows builds compile
 * kernel_layout_check.c (offsets and sizes there must match the headers').
 *
 * C as well as C++: the kernel headers compile only as C.
 *
 * Each row: a name, the structure and its member as the headers name them,
 * the i386 value, the x64 value. KERNEL_SIZES lists whole sizes, KERNEL_CONSTANTS
 * the system's constants that the kernel holds a driver to.
 */
#ifndef ZQ4810_EMULATOR_KERNEL_LAYOUT_H
#define ZQ4810_EMULATOR_KERNEL_LAYOUT_H

#define KERNEL_OFFSETS(ROW)                                                                          \
    ROW(DriverDeviceObject, DRIVER_OBJECT, DeviceObject, 0x04, 0x08)                                 \
    ROW(DriverStart, DRIVER_OBJECT, DriverStart, 0x0C, 0x18)                                         \
    ROW(DriverSize, DRIVER_OBJECT, DriverSize, 0x10, 0x20)                                           \
    ROW(DriverName, DRIVER_OBJECT, DriverName, 0x1C, 0x38)                                           \
    ROW(DriverInit, DRIVER_OBJECT, DriverInit, 0x2C, 0x58)                                           \
    ROW(DriverUnload, DRIVER_OBJECT, DriverUnload, 0x34, 0x68)                                       \
    ROW(DriverMajorFunction, DRIVER_OBJECT, MajorFunction, 0x38, 0x70)                               \
    ROW(DeviceDriverObject, DEVICE_OBJECT, DriverObject, 0x08, 0x08)                                 \
    ROW(DeviceFlags, DEVICE_OBJECT, Flags, 0x1C, 0x30)                                               \
    ROW(DeviceCharacteristics, DEVICE_OBJECT, Characteristics, 0x20, 0x34)                           \
    ROW(DeviceExtension, DEVICE_OBJECT, DeviceExtension, 0x28, 0x40)                                 \
    ROW(DeviceType, DEVICE_OBJECT, DeviceType, 0x2C, 0x48)                                           \
    ROW(DeviceStackSize, DEVICE_OBJECT, StackSize, 0x30, 0x4C)                                       \
    ROW(FileDeviceObject, FILE_OBJECT, DeviceObject, 0x04, 0x08)                                     \
    ROW(FileFsContext, FILE_OBJECT, FsContext, 0x0C, 0x18)                                           \
    ROW(FileFsContext2, FILE_OBJECT, FsContext2, 0x10, 0x20)                                         \
    ROW(FileReadAccess, FILE_OBJECT, ReadAccess, 0x26, 0x4A)                                         \
    ROW(FileWriteAccess, FILE_OBJECT, WriteAccess, 0x27, 0x4B)                                       \
    ROW(FileFlags, FILE_OBJECT, Flags, 0x2C, 0x50)                                                   \
    ROW(FileName, FILE_OBJECT, FileName, 0x30, 0x58)                                                 \
    ROW(IrpMdlAddress, IRP, MdlAddress, 0x04, 0x08)                                                  \
    ROW(IrpSystemBuffer, IRP, AssociatedIrp.SystemBuffer, 0x0C, 0x18)                                \
    ROW(IrpStatus, IRP, IoStatus.Status, 0x18, 0x30)                                                 \
    ROW(IrpInformation, IRP, IoStatus.Information, 0x1C, 0x38)                                       \
    ROW(IrpRequestorMode, IRP, RequestorMode, 0x20, 0x40)                                            \
    ROW(IrpStackCount, IRP, StackCount, 0x22, 0x42)                                                  \
    ROW(IrpCurrentLocation, IRP, CurrentLocation, 0x23, 0x43)                                        \
    ROW(IrpUserBuffer, IRP, UserBuffer, 0x3C, 0x70)                                                  \
    ROW(IrpCurrentStackLocation, IRP, Tail.Overlay.CurrentStackLocation, 0x60, 0xB8)                 \
    ROW(StackMajorFunction, IO_STACK_LOCATION, MajorFunction, 0x00, 0x00)                            \
    ROW(StackSecurityContext, IO_STACK_LOCATION, Parameters.Create.SecurityContext, 0x04, 0x08)      \
    ROW(StackCreateOptions, IO_STACK_LOCATION, Parameters.Create.Options, 0x08, 0x10)                \
    ROW(StackShareAccess, IO_STACK_LOCATION, Parameters.Create.ShareAccess, 0x0E, 0x1A)              \
    ROW(StackOutputLength, IO_STACK_LOCATION, Parameters.DeviceIoControl.OutputBufferLength, 0x04, 0x08) \
    ROW(StackInputLength, IO_STACK_LOCATION, Parameters.DeviceIoControl.InputBufferLength, 0x08, 0x10)   \
    ROW(StackControlCode, IO_STACK_LOCATION, Parameters.DeviceIoControl.IoControlCode, 0x0C, 0x18)       \
    ROW(StackType3Input, IO_STACK_LOCATION, Parameters.DeviceIoControl.Type3InputBuffer, 0x10, 0x20)     \
    ROW(StackDeviceObject, IO_STACK_LOCATION, DeviceObject, 0x14, 0x28)                              \
    ROW(StackFileObject, IO_STACK_LOCATION, FileObject, 0x18, 0x30)                                  \
    ROW(SecurityQos, IO_SECURITY_CONTEXT, SecurityQos, 0x00, 0x00)                                   \
    ROW(SecurityAccessState, IO_SECURITY_CONTEXT, AccessState, 0x04, 0x08)                           \
    ROW(SecurityDesiredAccess, IO_SECURITY_CONTEXT, DesiredAccess, 0x08, 0x10)                       \
    ROW(AccessPreviouslyGranted, ACCESS_STATE, PreviouslyGrantedAccess, 0x14, 0x14)                  \
    ROW(MdlSize, MDL, Size, 0x04, 0x08)                                                              \
    ROW(MdlStartVa, MDL, StartVa, 0x10, 0x20)                                                        \
    ROW(MdlByteCount, MDL, ByteCount, 0x14, 0x28)                                                    \
    ROW(MdlByteOffset, MDL, ByteOffset, 0x18, 0x2C)                                                  \
    ROW(ValueType, KEY_VALUE_PARTIAL_INFORMATION, Type, 0x04, 0x04)                                  \
    ROW(ValueDataLength, KEY_VALUE_PARTIAL_INFORMATION, DataLength, 0x08, 0x08)                      \
    ROW(ValueData, KEY_VALUE_PARTIAL_INFORMATION, Data, 0x0C, 0x0C)                                  \
    ROW(StringLength, UNICODE_STRING, Length, 0x00, 0x00)                                            \
    ROW(StringMaximumLength, UNICODE_STRING, MaximumLength, 0x02, 0x02)                              \
    ROW(StringBuffer, UNICODE_STRING, Buffer, 0x04, 0x08)                                            \
    ROW(AttributesLength, OBJECT_ATTRIBUTES, Length, 0x00, 0x00)                                     \
    ROW(AttributesRoot, OBJECT_ATTRIBUTES, RootDirectory, 0x04, 0x08)                                \
    ROW(AttributesName, OBJECT_ATTRIBUTES, ObjectName, 0x08, 0x10)                                   \
    ROW(AttributesAttributes, OBJECT_ATTRIBUTES, Attributes, 0x0C, 0x18)                             \
    ROW(ErrorDumpDataSize, IO_ERROR_LOG_PACKET, DumpDataSize, 0x02, 0x02)                            \
    ROW(ErrorNumberOfStrings, IO_ERROR_LOG_PACKET, NumberOfStrings, 0x04, 0x04)                      \
    ROW(ErrorStringOffset, IO_ERROR_LOG_PACKET, StringOffset, 0x06, 0x06)                            \
    ROW(ErrorCode, IO_ERROR_LOG_PACKET, ErrorCode, 0x0C, 0x0C)                                       \
    ROW(ErrorUniqueValue, IO_ERROR_LOG_PACKET, UniqueErrorValue, 0x10, 0x10)                         \
    ROW(ErrorFinalStatus, IO_ERROR_LOG_PACKET, FinalStatus, 0x14, 0x14)                              \
    ROW(ErrorDumpData, IO_ERROR_LOG_PACKET, DumpData, 0x28, 0x28)

#define KERNEL_SIZES(ROW)                                      \
    ROW(DriverObjectSize, DRIVER_OBJECT, 0xA8, 0x150)          \
    ROW(DeviceObjectSize, DEVICE_OBJECT, 0xB8, 0x148)          \
    ROW(FileObjectSize, FILE_OBJECT, 0x80, 0xD8)               \
    ROW(IrpSize, IRP, 0x70, 0xD0)                              \
    ROW(StackLocationSize, IO_STACK_LOCATION, 0x24, 0x48)      \
    ROW(MdlStructSize, MDL, 0x1C, 0x30)                        \
    ROW(SecurityContextSize, IO_SECURITY_CONTEXT, 0x10, 0x18)  \
    ROW(AccessStateSize, ACCESS_STATE, 0x74, 0xA0)             \
    ROW(ObjectAttributesSize, OBJECT_ATTRIBUTES, 0x18, 0x30)

/* The system's own limits, by name: each row a name, the headers' constant,
 * the i386 value, the x64 value. An error log entry may be no larger than
 * ERROR_LOG_MAXIMUM_SIZE, which follows from the message port's size and so
 * differs between the widths. */
#define KERNEL_CONSTANTS(ROW) ROW(ErrorLogMaximumSize, ERROR_LOG_MAXIMUM_SIZE, 0x98, 0xF0)

#endif /* ZQ4810_EMULATOR_KERNEL_LAYOUT_H */
