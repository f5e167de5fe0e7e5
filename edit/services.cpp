#include "edit/services.h"

#include "bufmodel/bufmodel.h"

void MonitorOpen(BufModel *model, const char *title, const char *text)
{
    model->monitor = model->monitorService->create(title, text);
}

void MonitorInit(BufModel *model, int total)
{
    if (model->monitor)
        model->monitor->init(model->monitor->data, (unsigned)total);
}

int MonitorStep(BufModel *model, int amount)
{
    // Without a monitor every step reports an abort, so a pass whose monitor
    // could not be made stops at once instead of running unseen.
    if (!model->monitor)
        return 1;
    return model->monitor->step(model->monitor->data, (unsigned)amount);
}

void MonitorClose(BufModel *model)
{
    if (!model->monitor)
        return;
    model->monitor->done(model->monitor->data);
    model->monitorService->destroy(model->monitor);
    model->monitor = nullptr;
}

void MessageError(BufModel *model, const char *line1, const char *line2)
{
    model->messageService->error(line1, line2);
}

void MessageInfo(BufModel *model, const char *line1, const char *line2)
{
    model->messageService->info(line1, line2);
}

int HostPointPosition(BufModel *model, LWPntID id, Vec3 *out)
{
    const HostPointInfo *info = model->edit->pointInfo(model->edit->state, id);
    if (!info)
        return 0;
    out->x = info->position[0];
    out->y = info->position[1];
    out->z = info->position[2];
    return 1;
}

Vec3 HostPointOrZero(BufModel *model, LWPntID id)
{
    Vec3 p = VecCopyOrZero(nullptr);
    HostPointPosition(model, id, &p);
    return p;
}
