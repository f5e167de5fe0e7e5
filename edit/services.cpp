#include "edit/services.h"

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

void MonitorOpen(EditContext *ctx, const char *title, const char *text)
{
    ctx->monitor = ctx->monitorService->create(title, text);
}

void MonitorInit(EditContext *ctx, int total)
{
    if (ctx->monitor)
        ctx->monitor->init(ctx->monitor->data, (unsigned)total);
}

int MonitorStep(EditContext *ctx, int amount)
{
    // Without a monitor every step reports an abort, so a pass whose monitor
    // could not be made stops at once instead of running unseen.
    if (!ctx->monitor)
        return 1;
    return ctx->monitor->step(ctx->monitor->data, (unsigned)amount);
}

void MonitorClose(EditContext *ctx)
{
    if (!ctx->monitor)
        return;
    ctx->monitor->done(ctx->monitor->data);
    ctx->monitorService->destroy(ctx->monitor);
    ctx->monitor = nullptr;
}

void MessageError(EditContext *ctx, const char *line1, const char *line2)
{
    ctx->messageService->error(line1, line2);
}

void MessageInfo(EditContext *ctx, const char *line1, const char *line2)
{
    ctx->messageService->info(line1, line2);
}

int HostPointPosition(EditContext *ctx, LWPntID id, Vec3 *out)
{
    const HostPointInfo *info = ctx->edit->pointInfo(ctx->edit->state, id);
    if (!info)
        return 0;
    out->x = info->position[0];
    out->y = info->position[1];
    out->z = info->position[2];
    return 1;
}

Vec3 HostPointOrZero(EditContext *ctx, LWPntID id)
{
    Vec3 p = VecCopyOrZero(nullptr);
    HostPointPosition(ctx, id, &p);
    return p;
}

const HostPolygonInfo *HostPolyInfo(EditContext *ctx, LWPolID id)
{
    return ctx->edit->polyInfo(ctx->edit->state, id);
}
