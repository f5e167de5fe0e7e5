// The options panel: shows the mode, lets the user set the bevel size, the
// angle mode and the limit angle, and keeps them in the settings file.
#include <stddef.h>

#include "hostapi/angles.h"
#include "options/options.h"

static const char kTitle[] = "Corvane...      Ver. 2.14";

void PanelHook(HostPanelID, void *userData)
{
    HostControl *control = (HostControl *)userData;
    // Activating a control takes an integer 0.
    HostIntValue value = {HOST_VALUE_INT, 0};
    if (control)
        control->set(control, HOST_CTL_TAG_ACTIVATE, &value);
}

double OptionsPanel(HostMeshEditOp *edit, HostGlobalFunc *global, int mode)
{
    // The panel service and a panel.
    HostPanelService *panels = global ? (HostPanelService *)global(HOST_PANEL_SERVICE, 0) : nullptr;
    if (!panels || !edit)
        return 0.0;
    HostPanelID panel = panels->create(kTitle, nullptr);
    if (!panel)
        return 0.0;
    // What the user confirmed last time.
    SettingsFile(global, 0, &g_settings);
    panels->globalFun = global;

    // The controls. One descriptor serves all four; a word a control does
    // not name keeps what the previous control left in it. The lists live
    // as long as the panel, which goes before this returns.
    const char *modeText[2] = {mode ? "Line" : "Object", nullptr};
    const char *angleItems[] = {" Disable ", " LT ", " GT ", nullptr};
    HostControlDesc desc = {0, nullptr, 0, 0};

    desc.type = HOST_CTL_TEXT;
    desc.list = modeText;
    HostControl *text = panels->addControl(panel, "TextControl", &desc, "mode:");
    desc.type = HOST_CTL_FLOAT;
    HostControl *bevel = panels->addControl(panel, "FloatControl", &desc, "Bevel size  ");
    desc.type = HOST_CTL_CHOICE;
    desc.list = angleItems;
    desc.word2 = 0;
    HostControl *choice = panels->addControl(panel, "ChoiceControl", &desc, "Angle Mode  ");
    desc.type = HOST_CTL_ANGLE;
    desc.word2 = 0;
    desc.word3 = 360;
    HostControl *angle = panels->addControl(panel, "AngleControl", &desc, "Limit angle ");
    if (!text || !bevel || !choice || !angle) {
        panels->destroy(panel);
        return 0.0;
    }

    // The hook gives the bevel size the focus.
    panels->set(panel, HOST_PANEL_TAG_USERDATA, bevel);
    panels->set(panel, HOST_PANEL_TAG_HOOK, (const void *)PanelHook);

    // Values in; the angle control works in radians.
    HostFloatValue fval = {HOST_VALUE_FLOAT, 0, 0.0};
    HostIntValue ival = {HOST_VALUE_INT, 0};
    fval.value = g_settings.bevelSize;
    bevel->set(bevel, HOST_CTL_TAG_VALUE, &fval);
    fval.value = g_settings.limitAngle * kRadiansPerDegree;
    angle->set(angle, HOST_CTL_TAG_VALUE, &fval);
    ival.value = g_settings.angleMode;
    choice->set(choice, HOST_CTL_TAG_VALUE, &ival);

    // Show it; 0 is a cancel, which keeps the file as it is.
    static const int width = 230;
    panels->set(panel, HOST_PANEL_TAG_SIZE, &width);
    if (panels->open(panel, HOST_PANEL_OPEN_MODAL) == 0) {
        panels->destroy(panel);
        return 0.0;
    }

    // Values out.
    bevel->get(bevel, HOST_CTL_TAG_VALUE, &fval);
    g_settings.bevelSize = fval.value;
    angle->get(angle, HOST_CTL_TAG_VALUE, &fval);
    g_settings.limitAngle = fval.value;
    choice->get(choice, HOST_CTL_TAG_VALUE, &ival);
    g_settings.angleMode = (int32_t)ival.value;

    // Close the panel, keep the values in degrees and save them.
    panels->destroy(panel);
    g_settings.limitAngle = g_settings.limitAngle * kDegreesPerRadian;
    SettingsFile(global, 1, &g_settings);
    return g_settings.bevelSize;
}
