/*
 * What the driver accepts as a device request, apart from the kernel's types
 * so that the host can test it as it is compiled into the driver.
 *
 * The library's two requests are plain bytes in the system buffer, with no
 * pointer and no pointer-sized field in them: control code 0 reads (the port
 * offset in 4 bytes, little-endian, in; one byte out), control code 1 writes
 * (offset and byte in, nothing out). So a 32-bit program on a 64-bit Windows
 * (WOW64) and a 64-bit program send the very same request, and the x64
 * driver needs no 32-bit form of it.
 */
#ifndef ZQ4810_DRIVER_REQUEST_H
#define ZQ4810_DRIVER_REQUEST_H

#ifdef __cplusplus
extern "C" {
#endif

#define REQUEST_READ_CODE 0u
#define REQUEST_WRITE_CODE 1u
#define REQUEST_OFFSET_BYTES 4u

/* The access bits of a create that let an opening write: the file's write
 * data right (FILE_WRITE_DATA), and the generic write and all rights in case
 * a system passes them unmapped (GENERIC_WRITE, GENERIC_ALL). Appending alone
 * (FILE_APPEND_DATA) is not writing here, as it is not for a control code that
 * asks for write access. */
#define REQUEST_WRITE_ACCESS 0x50000002u

/* What an opening may do, decided at its create. */
enum RequestOpening {
    OPENING_REFUSED, /* a name below the device: there is none */
    OPENING_READS,   /* reads only */
    OPENING_WRITES   /* reads and writes */
};

/* Decides a create: nameLength is the byte length of the name below the
 * device, hasContext whether the system gave the create a security context,
 * access the rights asked for and granted in it. */
enum RequestOpening RequestOpen(unsigned int nameLength, int hasContext, unsigned int access);

/* What to do with a request. */
enum RequestVerdict {
    REQUEST_SERVE,   /* the offset is set: serve it */
    REQUEST_UNKNOWN, /* not one of the two control codes */
    REQUEST_DENIED,  /* a write on an opening that may only read */
    REQUEST_REFUSED  /* no buffer, wrong lengths, or an offset past the ports */
};

/* Checks a request on an opening against the registered port count and, when
 * it is to be served, gives its port offset. buffer is the system buffer (may
 * be null), inLength and outLength the lengths the caller gave. */
enum RequestVerdict RequestCheck(enum RequestOpening opening, unsigned int code, unsigned int inLength,
                                 unsigned int outLength, const unsigned char* buffer, unsigned int portCount,
                                 unsigned int* offset);

#ifdef __cplusplus
}
#endif

#endif /* ZQ4810_DRIVER_REQUEST_H */
