#ifndef PORTIO_PORTIO_MODULE_H
#define PORTIO_PORTIO_MODULE_H

/* The interface between libportio.so.1 and a back end module
   (libportio-NAME.so.1, e.g. libportio-ola.so.1).

   A back end that needs a third-party library lives in a module of its own,
   which libportio.so.1 loads by name (through the system's loader, from its
   own folder, then the installed library folder) only when a port's
   settings choose that back end, so the library and the program run where
   the third-party library is missing. A module exports exactly one
   function, PORTIO_MODULE_FACTORY, with C linkage. The core calls it with
   the interface version it speaks, reads `abi` of what it returns before
   anything else, and refuses a module whose version differs, by name,
   instead of calling into it.

   Settings: a module never reads the settings file or the environment. The
   core lists the module's keys in its table of back ends
   (portio/backend_table.h), reads and checks the file and the environment,
   and hands the module its port's resolved values through PortioSettings:
   value("universe") is the text ("1"), already checked against the table's
   rule, and origin("universe") says where it came from
   ("PORTIO_OLA_UNIVERSE", "/home/ann/.config/portio/portio.conf:3" or
   "default"), for messages.

   Calls come from one thread at a time (the port library is
   thread-compatible). Texts a module passes back go through PortioText,
   which copies them at once. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this interface; any change to the structs below adds one. */
#define PORTIO_MODULE_ABI 1u
/* The name of the one function a module exports. */
#define PORTIO_MODULE_FACTORY "portio_module"

/* A text going back to the core: assign(context, text) copies `text`. */
typedef struct PortioText {
    void* context;
    void (*assign)(void* context, const char* text);
} PortioText;

/* One port's settings, valid for the duration of the call they are given to. */
typedef struct PortioSettings {
    void* context;
    /* The value of `key`, or NULL when nothing sets it. */
    const char* (*value)(void* context, const char* key);
    /* Where it came from (see above), or NULL when nothing sets it. */
    const char* (*origin)(void* context, const char* key);
} PortioSettings;

/* One port's back end, the module's own. */
typedef struct PortioBackend PortioBackend;
/* A watch on what the far end holds for a port, for the lamp monitor. */
typedef struct PortioWatch PortioWatch;

typedef struct PortioModule {
    uint32_t abi;     /* PORTIO_MODULE_ABI of the module's build: read first */
    const char* name; /* the back end's name, "ola": the `backend` value that picks it */
    /* Sets up port `address` (0..65535) at its first write, or its first after
       a failure. Returns NULL on failure, with the reason in `error`: the
       port, what the module was trying, the system's reason and the fix. */
    PortioBackend* (*open)(uint16_t address, const PortioSettings* settings, PortioText error);
    /* Puts `data` out at once; must not wait for a far end's answer. Returns
       1, or 0 with the reason in `error`; after 0 the core closes the back
       end and opens a new one at the port's next write. */
    int (*write)(PortioBackend* backend, uint8_t data, PortioText error);
    /* The byte last put out (or what the far end holds); as for write. */
    int (*read)(PortioBackend* backend, uint8_t* data, PortioText error);
    /* Releases everything `backend` holds. */
    void (*close)(PortioBackend* backend);
    /* For portio-out --status: whether the back end could reach its far end
       now, without writing. Returns 1 or 0, and in `report` one or more
       lines saying what it found (and, when 0, the fix). */
    int (*probe)(uint16_t address, const PortioSettings* settings, PortioText report);

    /* For the lamp monitor, so that it needs no library of the back end's
       own; NULL in a module that cannot. Starts watching, on a thread of the
       module's own, what the far end holds for the port's eight lamps, and
       calls changed(context) from that thread after every change. `title`
       gets one line naming what is watched. NULL with the reason in `error`. */
    PortioWatch* (*watch)(uint16_t address, const PortioSettings* settings,
                          void (*changed)(void* context), void* context, PortioText title,
                          PortioText error);
    /* The latest levels: levels[0] of lamp 1 (bit 7) .. levels[7] of lamp 8
       (bit 0), 0 for off. Returns 1 while the far end is reached, else 0 with
       why in `problem`. Any thread. */
    int (*watch_read)(PortioWatch* watch, uint8_t levels[8], PortioText problem);
    /* Stops watching and frees `watch`; no changed() call comes after. */
    void (*unwatch)(PortioWatch* watch);
} PortioModule;

/* The factory: returns the module's description (static, never freed), or
   NULL. `core_abi` is the caller's PORTIO_MODULE_ABI. */
typedef const PortioModule* (*PortioModuleFactory)(uint32_t core_abi);

#ifdef __cplusplus
}
#endif

#endif /* PORTIO_PORTIO_MODULE_H */
