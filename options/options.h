// Options: the Settings record, the modal options panel that edits it, and
// the settings file that keeps it between uses of the tool.
#ifndef CORVANE_OPTIONS_H
#define CORVANE_OPTIONS_H

#include <stdint.h>

#include "hostapi/hostapi.h"

enum { SETTINGS_FORMAT_TAG = 210 };
enum { ANGLE_MODE_DISABLE = 0, ANGLE_MODE_LT = 1, ANGLE_MODE_GT = 2 };

// Byte layout is the settings file's: 32 bytes, fields at 0, 8, 16 and 24.
struct Settings {
    int32_t formatTag;  // 210 in a valid record
    int32_t reserved1;
    double bevelSize;   // model units
    double limitAngle;  // degrees
    int32_t angleMode;  // 0 " Disable ", 1 " LT ", 2 " GT "
    int32_t reserved2;
};

// The one record, alive as long as the module is loaded.
extern Settings g_settings;

// The largest limit angle a settings file may hold: 180 and the drift the
// panel's degree/radian round trip adds to it.
extern const double kSettingsLimitAngleMax;

// Defaults 210 / 1.0 / 90.0 / 0; the reserved words are left as they are.
void SettingsDefaults(Settings *settings);
// Reads (write == 0) or writes (write == 1) the settings file in the host's
// "Plugins" directory. Reading: 1 when the file's values were taken, 0 when the
// defaults stand. Writing: 1 when written, 0 when not.
int SettingsFile(HostGlobalFunc *global, int write, Settings *settings);
// Builds the settings file path from the "Plugins" directory into `out`
// (room for `size` bytes). 0 when it does not fit.
int SettingsFilePath(const char *directory, char *out, int size);

// Shows the modal options panel ("Line" for mode 1, "Object" for mode 0) and
// returns the confirmed bevel size; 0.0 when not shown or cancelled.
double OptionsPanel(HostMeshEditOp *edit, HostGlobalFunc *global, int mode);
// The panel's hook: gives the bevel size control (the user data) the focus.
void PanelHook(HostPanelID panel, void *userData);

#endif
