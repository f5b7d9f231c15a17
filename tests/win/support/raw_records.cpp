#include "win/support/raw_records.h"

#include "win/support/dialog_driver.h"
#include "win/support/inprocess_host.h"
#include "win/support/stored_settings.h"

namespace wintest {

bool capture_raw_records(const char* plugin, int swatch_id, uint32_t colour, RawRecords& out, std::string& error)
{
    InProcessHost& host = in_process_host();
    delete_settings();
    const uint32_t colours[8] = {colour, colour};
    store_value("CustomColors", colours, sizeof colours);
    host.reset(160, 120, [](int x, int y, unsigned char* p) {
        p[0] = static_cast<unsigned char>(x), p[1] = static_cast<unsigned char>(y), p[2] = 77;
    });
    static unsigned char mask[160 * 120];
    host.record.isFloating = 1;
    host.mask_data = mask;
    host.record.maskRowBytes = 160;
    host.load(plugin);
    if (!host.entry) {
        error = std::string("cannot load ") + plugin;
        return false;
    }
    Driver driver;
    host.run_command(true, "Cellumbra", [&](const std::atomic<bool>& done) {
        HWND dialog = wait_for_dialog("Cellumbra", 15000, &done);
        if (!dialog) return;
        for (int i = 0; i < 300 && host.displays_copy().empty() && !done; ++i) Sleep(50);
        driver.on_dialog_thread([&] { click(dialog, swatch_id); });
    });
    out = host.raw;
    if (out.pixel_map.empty()) error = "the preview was never displayed";
    else if (out.colour_info.empty()) error = "the swatch never asked the host for a colour";
    return error.empty();
}

void release_plugin()
{
    in_process_host().unload();
}

} // namespace wintest
