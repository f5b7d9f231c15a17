// filterhost: runs a filter plug-in on a picture outside an image editor.
#include <cstdio>
#include <string>
#include <vector>

#include "refhost/host.h"
#include "refhost/options.h"

int main(int argc, char** argv)
{
    // Trace lines and error messages interleave correctly when both streams
    // go to one file.
    std::setvbuf(stderr, nullptr, _IONBF, 0);

    std::vector<std::string> args(argv + 1, argv + argc);
    HostOptions options;
    std::string error;
    if (!parse_options(args, options, error)) {
        std::fprintf(stderr, "filterhost: %s\nTry 'filterhost --help'.\n", error.c_str());
        return exit_usage;
    }
    if (options.help) {
        std::fputs(help_text, stdout);
        return exit_ok;
    }
    install_crash_report();

    PluginModule plugin;
    if (!load_plugin(options.plugin, plugin, error)) {
        std::fprintf(stderr, "filterhost: %s\n", error.c_str());
        return exit_not_plugin;
    }
    if (options.trace)
        std::printf("plugin name=\"%s\" category=\"%s\" entry=%s\n", plugin.pipl.name.c_str(),
                    plugin.pipl.category.c_str(), plugin.pipl.entry.c_str());

    Host host(options, plugin);
    if (options.about)
        return host.run_about();

    int code = host.prepare_picture();
    if (code != exit_ok)
        return code;
    if (!options.settings.empty() && !store_settings(plugin.pipl, options, error)) {
        std::fprintf(stderr, "filterhost: %s\n", error.c_str());
        return exit_usage;
    }
    return host.run();
}
