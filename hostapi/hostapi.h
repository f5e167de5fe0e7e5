/* The host's plug-in interface, as the module sees it.
 *
 * Plain C layout. Every host record is a sequence of machine words: on the
 * 32-bit host a word is 4 bytes, so word n sits at byte 4n. Integer words are
 * declared intptr_t and handles/function pointers are pointers, so that each
 * field occupies exactly one word on every target we build. Words the module
 * never touches are kept as reserved slots so that the named ones land at
 * their positions.
 */
#ifndef CORVANE_HOSTAPI_H
#define CORVANE_HOSTAPI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- identifiers and words ------------------------------------------- */

/* Opaque handles, compared by identity only; 0 means "none". */
typedef struct HostPoint_t *LWPntID;
typedef struct HostPoly_t *LWPolID;

typedef intptr_t HostWord;

/* ---- module descriptor ----------------------------------------------- */

#define HOST_MODULE_SYNC 0x04121994u
#define HOST_MODULE_VERSION 3
#define HOST_MODULE_MACHINE 0x300

#define HOST_ACTIVATE_OK 0         /* done (also after a reported failure) */
#define HOST_ACTIVATE_BADVERSION 1 /* the interface version is not 3 */
#define HOST_ACTIVATE_BADSERVICE 2 /* a required global service is missing */

#define HOST_INTERFACE_VERSION 3

/* Codes for the edit operation's done(): 0 keeps the changes, anything else
 * discards every change of the edit. */
#define HOST_EDIT_KEEP 0
#define HOST_EDIT_DISCARD 1

/* global(service name, use mode) -> service record or function, or 0. */
typedef void *HostGlobalFunc(const char *serviceName, int useMode);

/* activation(version, global, local, server data) -> HOST_ACTIVATE_*. */
typedef int HostActivateFunc(int version, HostGlobalFunc *global, void *local, void *serverData);

typedef struct HostServerTag {
    HostWord tag;
    const char *string;
} HostServerTag;

typedef struct HostServerRecord {
    const char *className;        /* word 0 */
    const char *name;             /* word 1 */
    HostActivateFunc *activate;   /* word 2 */
    const HostServerTag *tagInfo; /* word 3: list ended by an all-zero entry */
} HostServerRecord;

typedef struct HostModuleDescriptor {
    uint32_t sysSync;                   /* word 0: HOST_MODULE_SYNC */
    uint32_t sysVersion;                /* word 1: HOST_MODULE_VERSION */
    uint32_t sysMachine;                /* word 2: HOST_MODULE_MACHINE */
    void *(*startup)(void);             /* word 3: non-null on success */
    void (*shutdown)(void *serverData); /* word 4 */
    const HostServerRecord *serverDefs; /* word 5: ended by an all-zero entry */
} HostModuleDescriptor;

/* ---- mesh edit operation ---------------------------------------------- */

#define HOST_LAYER_FOREGROUND 1
#define HOST_LAYER_BACKGROUND 2
#define HOST_MODE_ALL 0
#define HOST_MODE_SELECTED 1

/* Point information: id at word 0, the position's doubles after the four
 * leading words. */
typedef struct HostPointInfo {
    LWPntID pnt;        /* word 0 */
    HostWord reserved1; /* word 1 */
    HostWord reserved2; /* word 2 */
    HostWord reserved3; /* word 3 */
    double position[3];
} HostPointInfo;

#define HOST_POLY_SELECTED 1 /* bit 0 of the polygon flags */

typedef struct HostPolygonInfo {
    LWPolID pol;           /* word 0 */
    HostWord reserved1;    /* word 1 */
    HostWord reserved2;    /* word 2 */
    HostWord flags;        /* word 3: bit 0 = selected */
    HostWord numPnts;      /* word 4 */
    const LWPntID *points; /* word 5 */
    const char *surface;   /* word 6: may be 0 */
    HostWord reserved7;    /* word 7 */
} HostPolygonInfo;

typedef struct HostEditState_t *HostEditState;

typedef int HostPointScanFunc(void *data, const HostPointInfo *info);
typedef int HostPolyScanFunc(void *data, const HostPolygonInfo *info);

typedef struct HostMeshEditOp {
    HostEditState state;                                                                      /* word 0 */
    HostWord reserved1;                                                                       /* word 1 */
    void (*done)(HostEditState, int error, int selm);                                         /* word 2 */
    int (*pointCount)(HostEditState, int layer, int mode);                                    /* word 3 */
    int (*polyCount)(HostEditState, int layer, int mode);                                     /* word 4 */
    int (*pointScan)(HostEditState, HostPointScanFunc *, void *, int layer);                  /* word 5 */
    int (*polyScan)(HostEditState, HostPolyScanFunc *, void *, int layer);                    /* word 6 */
    HostPointInfo *(*pointInfo)(HostEditState, LWPntID);                                      /* word 7 */
    HostPolygonInfo *(*polyInfo)(HostEditState, LWPolID);                                     /* word 8 */
    int (*polyNormal)(HostEditState, LWPolID, double out[3]);                                 /* word 9 */
    LWPntID (*addPoint)(HostEditState, const double pos[3]);                                  /* word 10 */
    LWPolID (*addFace)(HostEditState, const char *surface, int count, const LWPntID *points); /* word 11 */
    HostWord reserved12;                                                                      /* word 12 */
    HostWord reserved13;                                                                      /* word 13 */
    HostWord reserved14;                                                                      /* word 14 */
    HostWord reserved15;                                                                      /* word 15 */
    HostWord reserved16;                                                                      /* word 16 */
    int (*remPoly)(HostEditState, LWPolID);                                                   /* word 17 */
    HostWord reserved18;                                                                      /* word 18 */
    HostWord reserved19;                                                                      /* word 19 */
    HostWord reserved20;                                                                      /* word 20 */
    HostWord reserved21;                                                                      /* word 21 */
} HostMeshEditOp;

/* local(point buffer, polygon buffer, mode): begins the edit; 0 when refused. */
typedef HostMeshEditOp *HostMeshEditBegin(int pointBuf, int polyBuf, int mode);

/* ---- progress monitor: "LWM: Dynamic Monitor" ------------------------- */

#define HOST_MONITOR_SERVICE "LWM: Dynamic Monitor"

typedef struct HostMonitor {
    void *data;                               /* word 0 */
    void (*init)(void *data, unsigned total); /* word 1 */
    int (*step)(void *data, unsigned amount); /* word 2: non-zero = abort */
    void (*done)(void *data);                 /* word 3 */
} HostMonitor;

typedef struct HostMonitorService {
    HostMonitor *(*create)(const char *title, const char *text); /* word 0 */
    void (*destroy)(HostMonitor *monitor);                       /* word 1 */
} HostMonitorService;

/* ---- messages: "Info Messages" ---------------------------------------- */

#define HOST_MESSAGE_SERVICE "Info Messages"

typedef struct HostMessageService {
    void (*info)(const char *line1, const char *line2);  /* word 0 */
    void (*error)(const char *line1, const char *line2); /* word 1 */
    HostWord reserved2;                                  /* word 2 */
    HostWord reserved3;                                  /* word 3 */
    HostWord reserved4;                                  /* word 4 */
    HostWord reserved5;                                  /* word 5 */
} HostMessageService;

/* ---- panels: "LWPanelServices" ---------------------------------------- */

#define HOST_PANEL_SERVICE "LWPanelServices"

/* Value records that move values in and out of controls. */
#define HOST_VALUE_INT 2
#define HOST_VALUE_FLOAT 3

typedef struct HostIntValue {
    HostWord type; /* HOST_VALUE_INT */
    HostWord value;
} HostIntValue;

typedef struct HostFloatValue {
    HostWord type; /* HOST_VALUE_FLOAT */
    HostWord reserved1;
    double value;
} HostFloatValue;

/* Control descriptor: one record the module reuses for every control. */
#define HOST_CTL_FLOAT 4
#define HOST_CTL_CHOICE 9
#define HOST_CTL_TEXT 12
#define HOST_CTL_ANGLE 15

typedef struct HostControlDesc {
    HostWord type;     /* word 0 */
    const char **list; /* word 1: NULL-ended text or item list */
    HostWord word2;    /* word 2: choice layout / angle range low */
    HostWord word3;    /* word 3: angle range high */
} HostControlDesc;

typedef struct HostPanel_t *HostPanelID;

/* Panel and control tags the module uses. */
#define HOST_PANEL_TAG_SIZE 2      /* reference to the panel width (int) */
#define HOST_PANEL_TAG_HOOK 7      /* hook run when the panel opens */
#define HOST_PANEL_TAG_USERDATA 12 /* user data handed to the hook */
#define HOST_CTL_TAG_VALUE 4       /* the control's value record */
#define HOST_CTL_TAG_ACTIVATE 21   /* give the control the input focus */
#define HOST_PANEL_OPEN_MODAL 7    /* open flags: blocking, with OK and Cancel */

typedef struct HostControl HostControl;
struct HostControl {
    void *priv;                                                    /* word 0 */
    void (*get)(HostControl *control, int tag, void *value);       /* word 1 */
    void (*set)(HostControl *control, int tag, const void *value); /* word 2 */
    HostWord reserved3;                                            /* word 3 */
};

typedef void HostPanelHook(HostPanelID panel, void *userData);

typedef struct HostPanelService {
    HostPanelID (*create)(const char *title, void *data);       /* word 0 */
    void (*destroy)(HostPanelID panel);                         /* word 1 */
    int (*open)(HostPanelID panel, int flags);                  /* word 2: 0 = cancelled */
    HostWord reserved3;                                         /* word 3 */
    HostWord reserved4;                                         /* word 4 */
    HostWord reserved5;                                         /* word 5 */
    HostWord reserved6;                                         /* word 6 */
    void (*set)(HostPanelID panel, int tag, const void *value); /* word 7 */
    HostControl *(*addControl)(HostPanelID panel, const char *typeName, HostControlDesc *desc,
                               const char *label); /* word 8 */
    HostWord reserved9;                            /* word 9 */
    HostWord reserved10;                           /* word 10 */
    HostWord reserved11;                           /* word 11 */
    HostGlobalFunc *globalFun;                     /* word 12 */
} HostPanelService;

/* ---- directories: "Directory Info" ------------------------------------ */

#define HOST_DIRECTORY_SERVICE "Directory Info"

/* The service is this function itself: type name -> directory path or 0. */
typedef const char *HostDirectoryFunc(const char *type);

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_HOSTAPI_H */
