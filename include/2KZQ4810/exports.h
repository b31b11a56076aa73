/*
 * 2KZQ4810: the library that drives the four-axis counter board.
 *
 * Eleven functions, exported by name and ordinal from 2KZQ4810.dll. Every one
 * takes and returns 32-bit signed integers and uses the standard calling
 * convention of system library functions (the callee removes its arguments).
 * This header serves C and C++, MinGW and MSVC.
 *
 * Results: the values below. Several failed steps add up: 510, 765 and 1020
 * are two, three and four failures. Calls must not overlap: the application
 * serialises them.
 */
#ifndef ZQ4810_EXPORTS_H
#define ZQ4810_EXPORTS_H

#if defined(_WIN32)
#define ZQ4810_CALL __stdcall
#else
#define ZQ4810_CALL
#endif

/* The results every export gives, as plain int constants for C and C++. */
enum {
    ZQ4810_SUCCESS = 0,     /* done */
    ZQ4810_REFUSED = 1,     /* an argument refused before any port traffic */
    ZQ4810_FAILURE = 255,   /* a failure already shown to the user in a notice */
    ZQ4810_FIRST_SETUP = 1, /* CHECKIFDRIVER: the registration was created now */
    ZQ4810_DECLINED = -1    /* CHECKIFDRIVER: created now, declined and removed again */
};

#ifdef __cplusplus
extern "C" {
#endif

/* 1: 0 the driver's service key exists; 1 created now (first setup) and the
 * user did not decline; -1 created now and declined (the key is removed
 * again); 255 registry failure. */
int ZQ4810_CALL AZQ4810CHECKIFDRIVER(void);

/* 2: writes the service values and the board's base I/O address for the
 * driver. 0 written; 255 failure. */
int ZQ4810_CALL AZQ4810SETBASEADDRESS(int baseAddress);

/* 3: opens the device and starts the board. 0..15 the self-test failure mask
 * (bit n for axis n); 255 the device cannot be opened. */
int ZQ4810_CALL AZQ4810INITIALIZE(void);

/* 4: the axis's 24-bit count, sign-extended; 1 for an axis outside 0..3.
 * A failed read is told only by its notice. */
int ZQ4810_CALL AZQ4810READPOSITION(int axis);

/* 5: resets the axis's counter. 0 or 255; 1 for an axis outside 0..3. */
int ZQ4810_CALL AZQ4810RESETCOUNTER(int axis);

/* 6: sets the count multiplier (1, 2 or 4) of every axis. The sum of four
 * write results; 1 for any other multiplier. */
int ZQ4810_CALL AZQ4810SETMULTIPLIER(int multiplier);

/* 7: sets mode field selector (0..3) or all four fields (4) to mode (0..15).
 * The write result (sum of two for 4); 0 for any other selector. */
int ZQ4810_CALL AZQ4810CHANGEMODE(int selector, int mode);

/* 8: loads bits 0..23 of value into the axis's preset register. The sum of
 * four write results; 1 for an axis outside 0..3. */
int ZQ4810_CALL AZQ4810PRWRITE(int axis, int value);

/* 9: closes the device. 0, 255 or 510. */
int ZQ4810_CALL AZQ4810CLOSE(void);

/* 10: removes the service key alone. 0 or 255. */
int ZQ4810_CALL AZQ4810DELETE(void);

/* 11: removes the service key with its Parameters and Enum subkeys. 0, 255,
 * 510 or 765: 255 for each key that could not be removed. */
int ZQ4810_CALL AZQ4810DELETEALL(void);

#ifdef __cplusplus
}
#endif

#endif /* ZQ4810_EXPORTS_H */
