// The global services the host offers by name: progress monitor, messages,
// panels and directories. Each acts on the current host and records what the
// module did with it; the script decides what the "user" answers.
#include "host/host.h"

#include <cstring>

struct EmuMonitorRec {
    HostMonitor monitor;
    EmuHost *host = nullptr;
    size_t index = 0;  // into host->log.monitors
};

namespace {

// ---- progress monitor ----------------------------------------------------

EmuMonitorLog &MonitorLogOf(void *data)
{
    EmuMonitorRec *rec = static_cast<EmuMonitorRec *>(data);
    return rec->host->log.monitors[rec->index];
}

void MonitorInitFn(void *data, unsigned total)
{
    MonitorLogOf(data).inits.push_back(total);
}

int MonitorStepFn(void *data, unsigned /*amount*/)
{
    EmuMonitorRec *rec = static_cast<EmuMonitorRec *>(data);
    EmuHost *host = rec->host;
    EmuMonitorLog &log = host->log.monitors[rec->index];
    log.steps++;
    bool abort = host->script.abortMonitor >= 0 &&
                 static_cast<size_t>(host->script.abortMonitor) == rec->index &&
                 log.steps == host->script.abortStep;
    if (host->hooks.monitorStep && host->hooks.monitorStep(log) != 0)
        abort = true;
    if (abort)
        log.aborted = true;
    return abort ? 1 : 0;
}

void MonitorDoneFn(void *data)
{
    EmuMonitorRec *rec = static_cast<EmuMonitorRec *>(data);
    EmuMonitorLog &log = rec->host->log.monitors[rec->index];
    log.done = true;
    if (rec->host->hooks.monitorClose)
        rec->host->hooks.monitorClose(log);
}

HostMonitor *MonitorCreate(const char *title, const char *text)
{
    EmuHost *host = EmuHostCurrent();
    if (host == nullptr || host->script.monitorCreateFails)
        return nullptr;
    auto rec = std::make_shared<EmuMonitorRec>();
    rec->host = host;
    rec->index = host->log.monitors.size();
    rec->monitor.data = rec.get();
    rec->monitor.init = MonitorInitFn;
    rec->monitor.step = MonitorStepFn;
    rec->monitor.done = MonitorDoneFn;
    EmuMonitorLog log;
    log.title = title != nullptr ? title : "";
    log.text = text != nullptr ? text : "";
    host->log.monitors.push_back(log);
    host->monitorRecs.push_back(rec);
    if (host->hooks.monitorOpen)
        host->hooks.monitorOpen(host->log.monitors.back());
    return &rec->monitor;
}

void MonitorDestroy(HostMonitor *monitor)
{
    if (monitor == nullptr)
        return;
    MonitorLogOf(monitor->data).destroyed = true;
}

const HostMonitorService kMonitorService = {MonitorCreate, MonitorDestroy};

// ---- messages ------------------------------------------------------------

void Message(bool error, const char *line1, const char *line2)
{
    EmuHost *host = EmuHostCurrent();
    if (host == nullptr)
        return;
    EmuMessage msg;
    msg.error = error;
    msg.line1 = line1 != nullptr ? line1 : "";
    msg.line2Null = line2 == nullptr;
    msg.line2 = line2 != nullptr ? line2 : "";
    host->log.messages.push_back(msg);
    if (host->hooks.message)
        host->hooks.message(host->log.messages.back());
}

void MessageInfoFn(const char *line1, const char *line2)
{
    Message(false, line1, line2);
}
void MessageErrorFn(const char *line1, const char *line2)
{
    Message(true, line1, line2);
}

const HostMessageService kMessageService = {MessageInfoFn, MessageErrorFn, 0, 0, 0, 0};

// ---- panels --------------------------------------------------------------

EmuPanel *PanelOf(HostPanelID panel)
{
    return reinterpret_cast<EmuPanel *>(panel);
}

EmuPanelControl *ControlOf(HostControl *control)
{
    return static_cast<EmuPanelControl *>(control->priv);
}

bool HoldsFloat(const EmuPanelControl &c)
{
    return c.desc.type == HOST_CTL_FLOAT || c.desc.type == HOST_CTL_ANGLE;
}

// Value records carry their type in the first word; a record of neither type
// is filled by the control's own kind (and given that type).
void ControlGet(HostControl *control, int tag, void *value)
{
    EmuPanelControl *c = ControlOf(control);
    if (tag != HOST_CTL_TAG_VALUE || value == nullptr)
        return;
    HostWord type = *static_cast<HostWord *>(value);
    if (type != HOST_VALUE_INT && type != HOST_VALUE_FLOAT)
        type = HoldsFloat(*c) ? HOST_VALUE_FLOAT : HOST_VALUE_INT;
    if (type == HOST_VALUE_FLOAT) {
        HostFloatValue *v = static_cast<HostFloatValue *>(value);
        v->type = HOST_VALUE_FLOAT;
        v->value = c->floatValue;
    } else {
        HostIntValue *v = static_cast<HostIntValue *>(value);
        v->type = HOST_VALUE_INT;
        v->value = c->intValue;
    }
}

void ControlSet(HostControl *control, int tag, const void *value)
{
    EmuPanelControl *c = ControlOf(control);
    if (tag == HOST_CTL_TAG_ACTIVATE) {
        c->activated++;
        return;
    }
    if (tag != HOST_CTL_TAG_VALUE || value == nullptr)
        return;
    const HostWord type = *static_cast<const HostWord *>(value);
    if (type == HOST_VALUE_FLOAT)
        c->floatValue = static_cast<const HostFloatValue *>(value)->value;
    else if (type == HOST_VALUE_INT)
        c->intValue = static_cast<int>(static_cast<const HostIntValue *>(value)->value);
}

HostPanelID PanelCreate(const char *title, void * /*data*/)
{
    EmuHost *host = EmuHostCurrent();
    if (host == nullptr || host->script.panelCreateFails)
        return nullptr;
    auto panel = std::make_unique<EmuPanel>();
    panel->title = title != nullptr ? title : "";
    EmuPanel *p = panel.get();
    host->log.panels.push_back(std::move(panel));
    return reinterpret_cast<HostPanelID>(p);
}

void PanelDestroy(HostPanelID panel)
{
    if (panel != nullptr)
        PanelOf(panel)->destroyed = true;
}

EmuPanelControl *FindControl(EmuPanel *panel, const char *typeName)
{
    for (auto &c : panel->controls)
        if (c->typeName == typeName)
            return c.get();
    return nullptr;
}

// The "user" types the script's values into the controls; controls the
// script says nothing about keep what the module put in them.
void TypeScriptValues(const EmuScript &script, EmuPanel *panel)
{
    EmuPanelControl *c;
    if (script.bevelSize && (c = FindControl(panel, "FloatControl")) != nullptr)
        c->floatValue = *script.bevelSize;
    if (script.angleMode && (c = FindControl(panel, "ChoiceControl")) != nullptr)
        c->intValue = *script.angleMode;
    if (script.limitAngleRad && (c = FindControl(panel, "AngleControl")) != nullptr)
        c->floatValue = *script.limitAngleRad;
}

int PanelOpen(HostPanelID panel, int flags)
{
    EmuHost *host = EmuHostCurrent();
    if (host == nullptr || panel == nullptr)
        return 0;
    EmuPanel *p = PanelOf(panel);
    p->opened = true;
    p->openFlags = flags;
    if (p->hook != nullptr)
        p->hook(panel, const_cast<void *>(p->userData));
    TypeScriptValues(host->script, p);
    if (host->hooks.panelOpen)
        return host->hooks.panelOpen(*p) != 0 ? 1 : 0;
    return host->script.panelCancel ? 0 : 1;
}

void PanelSet(HostPanelID panel, int tag, const void *value)
{
    if (panel == nullptr)
        return;
    EmuPanel *p = PanelOf(panel);
    switch (tag) {
    case HOST_PANEL_TAG_SIZE:
        if (value != nullptr)
            p->width = *static_cast<const int *>(value);
        break;
    case HOST_PANEL_TAG_HOOK: p->hook = reinterpret_cast<HostPanelHook *>(const_cast<void *>(value)); break;
    case HOST_PANEL_TAG_USERDATA: p->userData = value; break;
    default: break;
    }
}

HostControl *PanelAddControl(HostPanelID panel, const char *typeName, HostControlDesc *desc,
                             const char *label)
{
    if (panel == nullptr)
        return nullptr;
    EmuPanel *p = PanelOf(panel);
    auto c = std::make_unique<EmuPanelControl>();
    c->typeName = typeName != nullptr ? typeName : "";
    c->label = label != nullptr ? label : "";
    if (desc != nullptr) {
        c->desc = *desc;
        if (desc->list != nullptr)
            for (const char **s = desc->list; *s != nullptr; ++s)
                c->list.push_back(*s);
    }
    c->desc.list = nullptr;  // the module's list is not ours to keep
    c->record.priv = c.get();
    c->record.get = ControlGet;
    c->record.set = ControlSet;
    HostControl *record = &c->record;
    p->controls.push_back(std::move(c));
    return record;
}

// ---- directories -----------------------------------------------------------

const char *DirectoryFn(const char *type)
{
    EmuHost *host = EmuHostCurrent();
    if (host == nullptr || type == nullptr || std::strcmp(type, "Plugins") != 0)
        return nullptr;
    return host->script.pluginsDir ? host->script.pluginsDir->c_str() : nullptr;
}

}  // namespace

void *EmuGlobal(const char *serviceName, int /*useMode*/)
{
    EmuHost *host = EmuHostCurrent();
    if (host == nullptr || serviceName == nullptr)
        return nullptr;
    host->log.servicesAsked.push_back(serviceName);
    const EmuScript &s = host->script;
    if (std::strcmp(serviceName, HOST_MONITOR_SERVICE) == 0)
        return s.noMonitorService ? nullptr : const_cast<HostMonitorService *>(&kMonitorService);
    if (std::strcmp(serviceName, HOST_MESSAGE_SERVICE) == 0)
        return s.noMessageService ? nullptr : const_cast<HostMessageService *>(&kMessageService);
    if (std::strcmp(serviceName, HOST_PANEL_SERVICE) == 0) {
        if (s.noPanelService)
            return nullptr;
        // The functions are (re)filled on every request; globalFun is the
        // module's to write and stays as it left it.
        HostPanelService &ps = host->panelService;
        ps.create = PanelCreate;
        ps.destroy = PanelDestroy;
        ps.open = PanelOpen;
        ps.set = PanelSet;
        ps.addControl = PanelAddControl;
        return &ps;
    }
    if (std::strcmp(serviceName, HOST_DIRECTORY_SERVICE) == 0)
        return s.noDirectoryService ? nullptr : reinterpret_cast<void *>(&DirectoryFn);
    return nullptr;
}
