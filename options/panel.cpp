// The options panel: shows the mode, lets the user set the bevel size, the
// angle mode and the limit angle, and keeps them in the settings file.
#include <stddef.h>

#include "options/options.h"

// Degrees to radians and back, with the factors the tool has always used:
// Degrees goes to the panel as 1.570796326794895 and comes back as
// 90.00000000000001.
static const double kDegToRad = 0.017453292519943278;
static const double kRadToDeg = 57.29577951308239;

static const char kTitle[] = "Corvane...      Ver. 2.14";

// The panel hook's value record: activating a control takes an integer 0.
static HostIntValue s_hookValue = {HOST_VALUE_INT, 0};

void PanelHook(HostPanelID, void *userData)
{
    HostControl *control = (HostControl *)userData;
    s_hookValue.value = 0;
    if (control)
        control->set(control, HOST_CTL_TAG_ACTIVATE, &s_hookValue);
}

double OptionsPanel(HostMeshEditOp *edit, HostGlobalFunc *global, int mode)
{
    // The panel service and a panel.
    HostPanelService *panels =
        global ? (HostPanelService *)global(HOST_PANEL_SERVICE, 0) : nullptr;
    if (!panels || !edit)
        return 0.0;
    HostPanelID panel = panels->create(kTitle, nullptr);
    if (!panel)
        return 0.0;
    // What the user confirmed last time.
    SettingsFile(global, 0, &g_settings);
    panels->globalFun = global;

    // The controls. One descriptor serves all four; a word a control does
    // not name keeps what the previous control left in it.
    static const char *modeText[2];
    modeText[0] = mode ? "Line" : "Object";
    modeText[1] = nullptr;
    static const char *angleItems[] = {" Disable ", " LT ", " GT ", nullptr};
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
    fval.value = g_settings.limitAngle * kDegToRad;
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
    g_settings.limitAngle = g_settings.limitAngle * kRadToDeg;
    SettingsFile(global, 1, &g_settings);
    return g_settings.bevelSize;
}
