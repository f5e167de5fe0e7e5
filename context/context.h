// The activation's context: the host's services, the output model and the
// fault flag. One record, made by the activation and passed down to every
// pass; nothing of it outlives the activation. Each mode keeps its indices
// and scratch in records of its own.
//
// The context is the services record with the rest added, so a pass hands
// it to the service wrappers (edit/services.h) and to the flush as it is.
// One plain base and no virtual functions: it stays an aggregate, which
// `EditContext ctx{}` zeroes.
#ifndef CORVANE_CONTEXT_H
#define CORVANE_CONTEXT_H

#include "bufmodel/bufmodel.h"
#include "edit/services.h"
#include "hostapi/hostapi.h"

struct EditContext : EditServices {
    BufModel *model;                    // the output model the passes fill
    // Set by a pass that cannot go on (EDIT_FAULT_...); the activation then
    // ends the edit without change and tells the user why.
    int fault;
};

enum {
    EDIT_FAULT_NONE = 0,
    EDIT_FAULT_INTERNAL = 1,   // a state the pass cannot work from
    EDIT_FAULT_NO_MEMORY = 2   // an allocation the pass cannot do without failed
};

// Binds the handles and the model and clears the rest. -1 (nothing changed)
// when the context, the edit operation, the monitor or the message service
// is null; the model may be null.
int EditContextInit(EditContext *ctx, HostMeshEditOp *edit, HostMonitorService *monitors,
                    HostMessageService *messages, BufModel *model);

#endif
