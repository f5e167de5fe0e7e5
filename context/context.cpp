#include "context/context.h"

int EditContextInit(EditContext *ctx, HostMeshEditOp *edit, HostMonitorService *monitors,
                    HostMessageService *messages, BufModel *model)
{
    if (!ctx || !edit || !monitors || !messages)
        return -1;
    ctx->edit = edit;
    ctx->monitorService = monitors;
    ctx->messageService = messages;
    ctx->monitor = nullptr;
    ctx->model = model;
    ctx->fault = EDIT_FAULT_NONE;
    return 0;
}
