// The context an activation hands its passes, made by a test over its own
// output model and edit.
#ifndef CORVANE_TESTS_TESTCONTEXT_H
#define CORVANE_TESTS_TESTCONTEXT_H

#include "bufmodel/bufmodel.h"
#include "context/context.h"
#include "objectmode/objectmode.h"

// Empties the model and binds the context to it; 0, or -1 as the two inits.
inline int InitTestContext(EditContext *ctx, BufModel *model, HostMeshEditOp *edit,
                           HostMonitorService *monitors,
                           HostMessageService *messages)
{
    if (BufModelInit(model) != 0)
        return -1;
    return EditContextInit(ctx, edit, monitors, messages, model);
}

// The edge passes one at a time, as a test runs them on records of its own:
// the list pass without telling of its runs, the link pass for any records.
inline int LineListPass(EditContext *ctx, int count, PolyInfo *records, LineInfo **edges)
{
    return LineListPassRuns(ctx, count, records, edges, nullptr);
}
inline void LineInfoPass(EditContext *ctx, int m, LineInfo *edges)
{
    LineInfoPassRuns(ctx, m, edges, EDGE_RUNS_UNKNOWN);
}

#endif
