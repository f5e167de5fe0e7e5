#include "edit/services.h"

void MonitorOpen(EditServices *services, const char *title, const char *text)
{
    services->monitor = services->monitorService->create(title, text);
}

void MonitorInit(EditServices *services, int total)
{
    if (services->monitor)
        services->monitor->init(services->monitor->data, (unsigned)total);
}

int MonitorStep(EditServices *services, int amount)
{
    // Without a monitor every step reports an abort, so a pass whose monitor
    // could not be made stops at once instead of running unseen.
    if (!services->monitor)
        return 1;
    return services->monitor->step(services->monitor->data, (unsigned)amount);
}

void MonitorClose(EditServices *services)
{
    if (!services->monitor)
        return;
    services->monitor->done(services->monitor->data);
    services->monitorService->destroy(services->monitor);
    services->monitor = nullptr;
}

void MessageError(EditServices *services, const char *line1, const char *line2)
{
    services->messageService->error(line1, line2);
}

void MessageInfo(EditServices *services, const char *line1, const char *line2)
{
    services->messageService->info(line1, line2);
}

int HostPointPosition(EditServices *services, LWPntID id, Vec3 *out)
{
    const HostPointInfo *info = services->edit->pointInfo(services->edit->state, id);
    if (!info)
        return 0;
    out->x = info->position[0];
    out->y = info->position[1];
    out->z = info->position[2];
    return 1;
}

Vec3 HostPointOrZero(EditServices *services, LWPntID id)
{
    Vec3 p = VecCopyOrZero(nullptr);
    HostPointPosition(services, id, &p);
    return p;
}

const HostPolygonInfo *HostPolyInfo(EditServices *services, LWPolID id)
{
    return services->edit->polyInfo(services->edit->state, id);
}
