#include "context/context.h"

int EditContextInit(EditContext *ctx, HostMeshEditOp *edit, HostMonitorService *monitors,
                    HostMessageService *messages, BufModel *model)
{
    if (!ctx || !edit || !monitors || !messages)
        return -1;
    ctx->services.edit = edit;
    ctx->services.monitorService = monitors;
    ctx->services.messageService = messages;
    ctx->services.monitor = nullptr;
    ctx->model = model;
    ctx->fault = EDIT_FAULT_NONE;
    return 0;
}
