#include "cli/common/common.h"

#include <CLI/CLI.hpp>

void CliAddModuleOptions(CLI::App *app, std::string *plugin, std::string *pluginsDir)
{
    app->add_option("--plugin", *plugin,
                    "The module to load (default: CorvaneLarge.p beside corvane; the host module Corvane.p "
                    "refuses meshes over 65,536 corners)")
        ->type_name("PATH");
    app->add_option("--plugins-dir", *pluginsDir,
                    "Folder of the settings file (default: $XDG_CONFIG_HOME/corvane or ~/.config/corvane)")
        ->type_name("DIR");
}
