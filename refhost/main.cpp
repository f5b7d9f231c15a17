// filterhost: runs a filter plug-in on a picture outside an image editor.
#include <cstdio>
#include <string>
#include <vector>

#include "refhost/host.h"
#include "refhost/options.h"
#include "refhost/system.h"

namespace {

void say_waiting()
{
    say("another run of this plug-in is going on; waiting for it to end");
}

} // namespace

int main()
{
    // Trace lines and error messages interleave correctly when both streams
    // go to one file.
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    // First of all: until then Wine ends the program at a Ctrl-C with exit 0.
    catch_interrupts();

    HostOptions options;
    std::string error;
    if (!parse_options(command_line_arguments(), options, error)) {
        print_text(stderr, "filterhost: " + error + "\nTry 'filterhost --help'.\n");
        return exit_usage;
    }
    if (options.help) {
        print_text(stdout, help_text);
        return exit_ok;
    }
    install_crash_report();

    // A window on a display nobody sees waits for a click nobody gives.
    const bool seen = screen_is_seen() || options.private_display;
    if (options.dialog && !seen) {
        say("--dialog needs a display that a person sees, and there is none (no DISPLAY, or only the "
            "private one of tools/wine-run.sh); run without --dialog to use the stored settings");
        return exit_usage;
    }
    options.answer_boxes = !(seen && (options.dialog || options.about));
    options.progress_terminal = options.progress == HostOptions::Progress::bar ||
                                (options.progress == HostOptions::Progress::automatic && is_terminal(stderr));

    PluginModule plugin;
    if (options.no_filter) {
        Host host(options, plugin);
        const int code = host.prepare_picture();
        return code != exit_ok ? code : host.run_no_filter();
    }
    if (!load_plugin(options.plugin, plugin, error)) {
        say(error);
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
    // The plug-in's stored settings are one registry value for every run:
    // from writing them to the end of the run, no other run may touch them.
    if (!hold_settings_lock(plugin.pipl.category + "/" + plugin.pipl.name, say_waiting, error)) {
        say(error);
        return interrupted() ? exit_interrupted : exit_plugin_error;
    }
    if (!options.settings.empty() && !store_settings(plugin.pipl, options, error)) {
        say(error);
        return exit_usage;
    }
    return host.run();
}
