#include "refhost/host.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "base/rect.h"
#include "refhost/block_pool.h"
#include "refhost/pixel_map.h"
#include "refhost/selection.h"

// The selector running now, for the crash report; -1 outside the plug-in.
extern volatile int16 running_selector;

namespace {

Host* active_host = nullptr;

// A plug-in that loops forever asking for areas is cut off here.
constexpr int32 max_continue_calls = 100000;

// From about this size on, reading and writing a picture take a good part
// of a second or more (a 52-megapixel photo about 3 s to read): a person
// then sees those phases too, not only the filtering.
constexpr int64_t large_picture_pixels = 8000000;

Boolean PS_CDECL abort_trampoline()
{
    return active_host->abort_proc();
}
void PS_CDECL progress_trampoline(int32 done, int32 total)
{
    active_host->progress_proc(done, total);
}
OSErr PS_CDECL advance_trampoline()
{
    return active_host->advance_state();
}
OSErr PS_CDECL display_trampoline(const PSPixelMap* source, const VRect* area, int32 row, int32 col,
                                  void* context)
{
    return active_host->display_pixels(source, area, row, col, context);
}
OSErr PS_CDECL color_trampoline(ColorServicesInfo* info)
{
    return active_host->color_services(info);
}

const char* selector_name(int16 selector)
{
    static const char* const names[] = {"about", "parameters", "prepare", "start", "continue", "finish"};
    return selector >= 0 && selector <= 5 ? names[selector] : "unknown";
}

const char* error_meaning(int16 code)
{
    switch (code) {
    case filterBadMode:
        return " (filterBadMode: the plug-in does not handle this image mode)";
    case memFullErr:
        return " (memFullErr: not enough memory)";
    case paramErr:
        return " (paramErr: a bad parameter)";
    default:
        return "";
    }
}

Fixed to_fixed(double v)
{
    return Fixed(v * 65536.0 + 0.5);
}

void print_rect(const char* name, const Rect16& r)
{
    std::printf(" %s=%d,%d,%d,%d", name, r.top, r.left, r.bottom, r.right);
}

// The box's caption and text on one line, as the person would have read them.
void report_box(const std::string& caption, const std::string& text, const std::string& button)
{
    std::string line;
    for (char c : text)
        if (c != '\r')
            line += c == '\n' ? ' ' : c;
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    say("message box \"" + caption + "\": " + line + " [answered " + (button.empty() ? "OK" : button) + "]");
}

const char* mode_name(int32 planes)
{
    return planes == 1 ? "grey" : planes == 4 ? "RGBA" : "RGB";
}

} // namespace

double Host::now() const
{
    if (!options_.times)
        return 0;
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The time of one callback, and of progress when it is one of its calls.
class CallbackTime {
public:
    CallbackTime(Host& host, bool progress) : host_(host), progress_(progress), start_(host.now()) {}
    ~CallbackTime()
    {
        const double spent = host_.now() - start_;
        host_.times_.callbacks += spent;
        if (progress_)
            host_.times_.progress += spent;
    }

private:
    Host& host_;
    bool progress_;
    double start_;
};

void Host::print_times() const
{
    if (!options_.times)
        return;
    const RunTimes& t = times_;
    const AreaTimes& a = area_times_;
    char line[512];
    std::snprintf(line, sizeof line,
                  "filterhost: times in ms: reading=%.1f preparing=%.1f window=%.1f filtering=%.1f plugin=%.1f start=%.1f "
                  "input=%.1f output=%.1f mask=%.1f write_back=%.1f allocation=%.1f first_touch=%.1f "
                  "freeing=%.1f progress=%.1f writing=%.1f pixels=%lld\n",
                  t.reading * 1e3, t.preparing * 1e3, t.window * 1e3, t.filtering * 1e3,
                  (t.selectors - t.callbacks) * 1e3, t.start * 1e3, a.input * 1e3, a.output * 1e3, a.mask * 1e3,
                  a.write_back * 1e3, a.allocation * 1e3, a.first_touch * 1e3, a.freeing * 1e3,
                  t.progress * 1e3, t.writing * 1e3, (long long)source_.width * source_.height);
    print_text(stderr, line);
}

int32 offered_max_space(const HostOptions& options)
{
    if (options.has_max_space)
        return options.max_space;
    // Should the system not say, the old default of 100 MiB.
    const uint64_t usable = usable_memory();
    return usable > 0 ? int32(std::min<uint64_t>(usable, uint64_t(max_space_cap))) : 100 * 1024 * 1024;
}

Host::Host(const HostOptions& options, const PluginModule& plugin)
    : options_(options), plugin_(plugin), progress_(options.progress_terminal, options.quiet)
{
    active_host = this;
    host_thread_ = current_thread_id();
}

Host::~Host()
{
    if (window_ != 0)
        destroy_host_window(window_);
    active_host = nullptr;
}

int Host::prepare_picture()
{
    std::string error;
    std::vector<std::string> notes;
    pause_for_test("reading");
    // Decoding tells how far it has got; a large picture shows it.
    struct Reading : DecodeProgress {
        Host& host;
        bool shown = false;
        explicit Reading(Host& h) : host(h) {}
        void begin(int32_t width, int32_t height, int32_t planes) override
        {
            // The plug-in's first requests are mostly the whole picture, in
            // and out, and as often as not twice over: blocks for them are
            // made ready on another processor while this one decodes, so
            // that the first touch of their pages costs the run nothing.
            // Only with room to spare for them beside the picture, its copy
            // and the encoder: a picture near the memory's limit goes
            // without.
            const uint64_t bytes = uint64_t(width) * uint64_t(height) * uint64_t(planes);
            if (!host.options_.no_filter && !host.options_.high_buffers && bytes * 8 <= usable_memory())
                block_pool::prepare(size_t(bytes), 3);
            shown = int64_t(width) * height >= large_picture_pixels;
            if (shown)
                print_text(stderr, host.progress_.start("reading '" + host.options_.input + "' (" +
                                                        std::to_string(width) + " x " + std::to_string(height) + ")"));
        }
        void advance(size_t done, size_t total) override
        {
            if (shown)
                print_text(stderr, host.progress_.update(int64_t(done), int64_t(total)));
        }
    } reading(*this);
    const double read_start = now();
    const bool loaded = load_picture(options_.input, options_.planes, source_, error, &notes, &reading);
    const double read_end = now();
    times_.reading = read_end - read_start;
    if (reading.shown)
        finish_progress(loaded);
    if (!loaded) {
        say(error);
        return exit_picture;
    }
    // Reading a large picture takes a while: a Ctrl-C meanwhile ends the run here.
    if (interrupted())
        return interrupted_exit();
    // Editors turn a photo upright when they open it, so the cells stand as
    // the person sees the picture.
    if (!options_.keep_orientation) {
        const std::string turned = turn_upright(source_);
        if (!turned.empty())
            notes.push_back(turned);
    }
    if (!options_.output.empty()) {
        if (!picture_format_known(options_.output)) {
            say(is_folder(options_.output)
                    ? "'" + options_.output + "' is a folder; give the output a file name ending in .png, .bmp or .jpg"
                    : "cannot write '" + options_.output + "': its name must end in .png, .bmp or .jpg");
            return exit_usage;
        }
        // Found now, not after the filtering.
        if (!check_writable(options_.output, error)) {
            say(error);
            return exit_picture;
        }
        for (const std::string& note : output_notes(source_, options_.output))
            notes.push_back(note);
    }
    for (const std::string& note : notes)
        say(note);
    if (options_.no_filter) {
        times_.preparing = now() - read_end;
        return exit_ok;
    }
    destination_ = source_;
    filter_rect_ = {0, 0, int16(source_.height), int16(source_.width)};
    if (options_.has_filter_rect) {
        const Area& a = options_.filter_rect;
        filter_rect_.top = int16(std::min(a.top, source_.height));
        filter_rect_.left = int16(std::min(a.left, source_.width));
        filter_rect_.bottom = int16(std::min(a.bottom, source_.height));
        filter_rect_.right = int16(std::min(a.right, source_.width));
        if (AreaServer::empty(filter_rect_)) {
            say("--filter-rect lies outside the " + std::to_string(source_.width) + "x" +
                std::to_string(source_.height) + " picture");
            return exit_usage;
        }
    }
    if (options_.selection != HostOptions::Selection::none) {
        if (!make_selection(options_.selection, options_.selection_area, source_.width, source_.height,
                            selection_, filter_rect_)) {
            say("the selection holds no pixel of the " + std::to_string(source_.width) + "x" +
                std::to_string(source_.height) + " picture");
            return exit_usage;
        }
        has_selection_ = true;
    }
    place_buffers_high(options_.high_buffers);
    areas_.reset(new AreaServer(source_, destination_, has_selection_ ? &selection_ : nullptr));
    if (options_.trace) {
        areas_->on_write_back = [](const Rect16& r) {
            std::printf("writeback");
            print_rect("area", r);
            std::printf("\n");
            std::fflush(stdout);
        };
    }
    if (options_.times)
        areas_->times = &area_times_;
    // The thread that makes blocks ready has ended before the plug-in's start.
    block_pool::wait_prepared();
    times_.preparing = now() - read_end;
    return exit_ok;
}

void Host::fill_record()
{
    FilterRecord& r = record_;
    std::memset(&r, 0, sizeof r);
    const int16 planes = int16(source_.planes);
    r.abortProc = options_.omit_abort ? nullptr : abort_trampoline;
    r.progressProc = options_.omit_progress ? nullptr : progress_trampoline;
    r.imageSize = {int16(source_.height), int16(source_.width)};
    r.planes = planes;
    r.filterRect = filter_rect_;
    r.background = {uint16(options_.background[0] * 257), uint16(options_.background[1] * 257),
                    uint16(options_.background[2] * 257)};
    r.foreground = {uint16(options_.foreground[0] * 257), uint16(options_.foreground[1] * 257),
                    uint16(options_.foreground[2] * 257)};
    r.maxSpace = offered_max_space(options_);
    r.bufferSpace = r.maxSpace;
    r.inLoPlane = r.outLoPlane = 0;
    r.inHiPlane = r.outHiPlane = int16(planes - 1);
    r.isFloating = 0;
    r.haveMask = has_selection_ ? 1 : 0;
    // This host never masks the output itself: what the plug-in leaves in
    // outData is what reaches the picture, so a plug-in that writes outside
    // the selection shows.
    r.autoMask = 0;
    std::memcpy(r.backColor, options_.background, 3);
    std::memcpy(r.foreColor, options_.foreground, 3);
    r.hostSig = uint32('F') << 24 | uint32('H') << 16 | uint32('S') << 8 | uint32('T');
    r.imageMode = planes == 1 ? plugInModeGrayScale : plugInModeRGBColor;
    r.imageHRes = r.imageVRes = 72 << 16;
    r.wholeSize = r.imageSize;
    // An sRGB monitor.
    r.monitor = {to_fixed(2.2),  to_fixed(0.64), to_fixed(0.33),   to_fixed(0.30),   to_fixed(0.60),
                 to_fixed(0.15), to_fixed(0.06), to_fixed(0.3127), to_fixed(0.3290), 0};
    platform_.hwnd = window_;
    r.platformData = &platform_;
    r.displayPixels = options_.omit_display ? nullptr : display_trampoline;
    // Filter cases: 1 flat image, 2 flat image with selection, 4 and 5 the same
    // on a layer with editable transparency.
    r.filterCase = int16((planes == 4 ? 4 : 1) + (has_selection_ ? 1 : 0));
    r.dummyPlaneValue = -1;
    r.advanceState = options_.omit_advance ? nullptr : advance_trampoline;
    r.supportsPadding = 1;
    r.inputPadding = r.outputPadding = r.maskPadding = plugInDoesNotWantPadding;
    r.samplingSupport = 1; // whole-number sampling factors
    r.inputRate = r.maskRate = 1 << 16;
    r.colorServices = options_.omit_color ? nullptr : color_trampoline;
    const int16 colour_planes = int16(planes == 1 ? 1 : 3);
    const int16 transparency = int16(planes == 4 ? 1 : 0);
    r.inLayerPlanes = r.outLayerPlanes = r.absLayerPlanes = colour_planes;
    r.inTransparencyMask = r.outTransparencyMask = r.absTransparencyMask = transparency;
    r.inColumnBytes = r.outColumnBytes = planes;
    r.inPlaneBytes = r.outPlaneBytes = 1;
    r.inTileHeight = r.outTileHeight = r.absTileHeight = r.maskTileHeight = r.imageSize.v;
    r.inTileWidth = r.outTileWidth = r.absTileWidth = r.maskTileWidth = r.imageSize.h;
    r.depth = 8;
}

int16 Host::call_selector(int16 selector, void* record)
{
    int16 result = 0;
    running_selector = selector;
    const double start = now(), callbacks = times_.callbacks;
    plugin_.entry(selector, record, &data_, &result);
    const double spent = now() - start;
    times_.selectors += spent;
    if (selector == filterSelectorStart)
        times_.start += spent - (times_.callbacks - callbacks);
    running_selector = -1;
    if (options_.trace) {
        std::printf("selector %d %s result=%d data=%s\n", selector, selector_name(selector), result,
                    data_ != 0 ? "nonzero" : "zero");
        std::fflush(stdout);
    }
    return result;
}

int Host::interrupted_exit()
{
    finish_progress(false);
    say("interrupted; nothing was written");
    return exit_interrupted;
}

int Host::report_result(int16 selector, int16 result)
{
    if (interrupted())
        return interrupted_exit();
    finish_progress(false);
    if (result == userCanceledErr) {
        say(std::string("cancelled (userCanceledErr at ") + selector_name(selector) + ")");
        return exit_cancelled;
    }
    say("plug-in error " + std::to_string(result) + " at " + selector_name(selector) + error_meaning(result));
    return exit_plugin_error;
}

int Host::run_about()
{
    window_ = create_host_window(nullptr, false, "filterhost");
    // The about record: the platform data first, nothing else the host fills.
    struct {
        void* platformData;
        unsigned char rest[252];
    } about = {};
    platform_.hwnd = window_;
    about.platformData = &platform_;
    if (options_.answer_boxes)
        answerer_.reset(new MessageBoxAnswerer(report_box));
    int16 result = call_selector(filterSelectorAbout, &about);
    return result == noErr ? exit_ok : report_result(filterSelectorAbout, result);
}

OSErr Host::deliver_for_continue()
{
    FilterRecord requested = record_;
    OSErr err = areas_->serve(record_);
    trace_request("continue", 0, requested, err);
    return err;
}

int Host::write_picture(const Picture& picture)
{
    // The encoders tell nothing while they work: the phase is said.
    if (int64_t(picture.width) * picture.height >= large_picture_pixels)
        print_text(stderr, progress_.start("writing '" + options_.output + "'"));
    std::string error;
    const double start = now();
    if (!save_picture(options_.output, picture, error)) {
        say(error);
        return interrupted() ? exit_interrupted : exit_picture;
    }
    times_.writing = now() - start;
    return exit_ok;
}

int Host::run_no_filter()
{
    const int code = write_picture(source_);
    if (code == exit_ok) print_times();
    return code;
}

int Host::run()
{
    const double window_start = now();
    window_ = create_host_window(&destination_, options_.dialog, "filterhost - " + options_.input);
    fill_record();
    if (options_.answer_boxes)
        answerer_.reset(new MessageBoxAnswerer(report_box));
    if (options_.trace) {
        std::printf("record maxSpace=%d planes=%d imageSize=%d,%d\n", record_.maxSpace, record_.planes,
                    record_.imageSize.h, record_.imageSize.v);
        std::fflush(stdout);
    }
    const double filtering_start = now();
    times_.window = filtering_start - window_start;
    print_text(stderr, progress_.start("filtering '" + options_.input + "' (" + std::to_string(source_.width) +
                                           " x " + std::to_string(source_.height) + ", " +
                                           mode_name(source_.planes) + ") with " + plugin_.pipl.name,
                                       "filtering done"));

    int16 result = 0;
    if (options_.dialog) {
        result = call_selector(filterSelectorParameters, &record_);
        if (result != noErr)
            return report_result(filterSelectorParameters, result);
    }
    result = call_selector(filterSelectorPrepare, &record_);
    if (result != noErr)
        return report_result(filterSelectorPrepare, result);

    if (options_.trace)
        threads_before_ = threads_during_ = process_thread_count();
    result = call_selector(filterSelectorStart, &record_);
    if (options_.trace) {
        // The plug-in's own threads show as more during the selector; none may be left after it.
        std::printf("threads before=%d during=%d after=%d\n", threads_before_, threads_during_,
                    process_thread_count());
        std::fflush(stdout);
    }
    // The output of the plug-in's latest request is taken when it returns;
    // after an error the picture is not written at all.
    areas_->write_back();
    if (result != noErr)
        return report_result(filterSelectorStart, result);
    // An editor's callbacks are not made for other threads: it could have
    // crashed. The plug-in has failed even though it said it succeeded.
    if (foreign_thread_calls_ > 0) {
        finish_progress(false);
        say("the plug-in called the host " + std::to_string(foreign_thread_calls_) +
            " times from a thread other than the one that called it");
        return exit_plugin_error;
    }

    int32 continues = 0;
    while (!AreaServer::empty(record_.inRect) || !AreaServer::empty(record_.outRect) ||
           !AreaServer::empty(record_.maskRect)) {
        if (interrupted())
            return interrupted_exit();
        if (++continues > max_continue_calls) {
            finish_progress(false);
            say("the plug-in still asks for areas after " + std::to_string(max_continue_calls) +
                " continue calls");
            return exit_plugin_error;
        }
        OSErr err = deliver_for_continue();
        if (err != noErr) {
            finish_progress(false);
            say("cannot deliver the areas the plug-in asks for: error " + std::to_string(err) +
                error_meaning(err));
            return exit_plugin_error;
        }
        result = call_selector(filterSelectorContinue, &record_);
        areas_->write_back();
        if (result != noErr)
            return report_result(filterSelectorContinue, result);
    }
    areas_->release(record_);

    result = call_selector(filterSelectorFinish, &record_);
    if (result != noErr)
        return report_result(filterSelectorFinish, result);
    if (interrupted())
        return interrupted_exit();
    finish_progress(true);
    times_.filtering = now() - filtering_start;

    if (options_.trace) {
        std::printf("summary advanceState=%d progress=%d last=%d/%d abort=%d displayPixels=%d "
                    "colorServices=%d\n",
                    advance_calls_, progress_calls_, last_done_, last_total_, abort_calls_, display_calls_,
                    color_calls_);
        std::fflush(stdout);
    }
    if (!options_.output.empty()) {
        const int code = write_picture(destination_);
        if (code != exit_ok) return code;
    }
    print_times();
    return exit_ok;
}

// ---------------------------------------------------------------- callbacks

void Host::note_callback()
{
    if (current_thread_id() != host_thread_)
        ++foreign_thread_calls_;
}

Boolean Host::abort_proc()
{
    note_callback();
    CallbackTime timed(*this, true);
    ++abort_calls_;
    // The threads the plug-in runs meanwhile, when a trace asks for them.
    if (options_.trace && threads_before_ > 0)
        threads_during_ = std::max(threads_during_, process_thread_count());
    // Keep the host window alive while the plug-in works, as an editor
    // would. A look every few tens of milliseconds is as lively as one a row,
    // which under Wine cost a round trip to the Wine server each.
    const auto now = std::chrono::steady_clock::now();
    if (now - last_pump_ >= std::chrono::milliseconds(20)) {
        pump_window_messages();
        last_pump_ = now;
    }
    pause_for_test("filtering");
    return interrupted() ||
           (options_.cancel_after_abort_calls > 0 && abort_calls_ >= options_.cancel_after_abort_calls);
}

void Host::progress_proc(int32 done, int32 total)
{
    note_callback();
    CallbackTime timed(*this, true);
    ++progress_calls_;
    last_done_ = done;
    last_total_ = total;
    const std::string text = progress_.update(done, total);
    if (!text.empty())
        print_text(stderr, text);
}

void Host::finish_progress(bool succeeded)
{
    print_text(stderr, progress_.finish(succeeded));
}

void Host::trace_request(const char* via, int32 number, const FilterRecord& requested, OSErr result)
{
    if (!options_.trace)
        return;
    const FilterRecord& r = requested;
    std::printf("%s %d", via, number);
    print_rect("in", r.inRect);
    std::printf(" inPlanes=%d-%d", r.inLoPlane, r.inHiPlane);
    print_rect("out", r.outRect);
    std::printf(" outPlanes=%d-%d", r.outLoPlane, r.outHiPlane);
    print_rect("mask", r.maskRect);
    std::printf(" inputRate=%d maskRate=%d padding=%d,%d,%d result=%d", r.inputRate, r.maskRate,
                r.inputPadding, r.outputPadding, r.maskPadding, result);
    std::printf(" data=%s%s%s", record_.inData ? "in" : "-", record_.outData ? ",out" : ",-",
                record_.maskData ? ",mask" : ",-");
    // Areas the host cut to the picture are shown as delivered.
    if (!same_rect(r.inRect, record_.inRect))
        print_rect("gotIn", record_.inRect);
    if (!same_rect(r.outRect, record_.outRect))
        print_rect("gotOut", record_.outRect);
    if (!same_rect(r.maskRect, record_.maskRect))
        print_rect("gotMask", record_.maskRect);
    std::printf("\n");
    std::fflush(stdout);
}

OSErr Host::advance_state()
{
    note_callback();
    CallbackTime timed(*this, false);
    const int32 number = ++advance_calls_;
    const FilterRecord requested = record_;
    OSErr err;
    if (number == options_.fail_advance_call) {
        // A failing host still takes what the plug-in wrote before, then hands
        // out nothing.
        areas_->write_back();
        areas_->release(record_);
        err = OSErr(options_.fail_advance_code);
    } else {
        err = areas_->serve(record_);
    }
    trace_request("advanceState", number, requested, err);
    return err;
}

OSErr Host::display_pixels(const PSPixelMap* source, const VRect* area, int32 row, int32 col, void* context)
{
    note_callback();
    CallbackTime timed(*this, false);
    ++display_calls_;
    OSErr err = draw_pixel_map(context, source, area, row, col);
    if (options_.trace) {
        if (source != nullptr && area != nullptr)
            std::printf("displayPixels version=%d bounds=%d,%d,%d,%d area=%d,%d,%d,%d at=%d,%d result=%d\n",
                        source->version, source->bounds.top, source->bounds.left, source->bounds.bottom,
                        source->bounds.right, area->top, area->left, area->bottom, area->right, row, col,
                        err);
        else
            std::printf("displayPixels result=%d\n", err);
        std::fflush(stdout);
    }
    return err;
}

OSErr Host::color_services(ColorServicesInfo* info)
{
    note_callback();
    CallbackTime timed(*this, false);
    ++color_calls_;
    if (info == nullptr || info->infoSize < int32(sizeof(ColorServicesInfo)))
        return paramErr;
    OSErr err = noErr;
    if (info->selector == plugIncolorServicesChooseColor) {
        if (info->sourceSpace != plugIncolorServicesRGBSpace)
            return paramErr;
        int16* c = info->colorComponents;
        const unsigned char preset[3] = {
            static_cast<unsigned char>(std::min<int16>(std::max<int16>(c[0], 0), 255)),
            static_cast<unsigned char>(std::min<int16>(std::max<int16>(c[1], 0), 255)),
            static_cast<unsigned char>(std::min<int16>(std::max<int16>(c[2], 0), 255))};
        std::string prompt;
        if (const unsigned char* p = info->selectorParameter.pickerPrompt)
            prompt.assign(reinterpret_cast<const char*>(p + 1), p[0]);
        if (options_.has_color_answer) {
            for (int i = 0; i < 3; ++i)
                c[i] = options_.color_answer[i];
        } else if (options_.answer_boxes) {
            // A chooser nobody sees would wait for ever: keep the colour offered.
            say("the plug-in asks for a colour" + (prompt.empty() ? std::string() : " (" + prompt + ")") +
                "; nobody sees a chooser, so it keeps " + std::to_string(preset[0]) + "," +
                std::to_string(preset[1]) + "," + std::to_string(preset[2]));
            for (int i = 0; i < 3; ++i)
                c[i] = preset[i];
        } else {
            unsigned char chosen[3] = {preset[0], preset[1], preset[2]};
            if (choose_colour(window_, chosen)) {
                for (int i = 0; i < 3; ++i)
                    c[i] = chosen[i];
            } else {
                err = userCanceledErr;
            }
        }
        info->resultSpace = plugIncolorServicesRGBSpace;
        if (options_.trace) {
            std::printf("colorServices choose preset=%d,%d,%d prompt=\"%s\" result=%d answer=%d,%d,%d\n",
                        preset[0], preset[1], preset[2], prompt.c_str(), err, c[0], c[1], c[2]);
            std::fflush(stdout);
        }
        return err;
    }
    // Conversions: only the identity, since this host knows only RGB.
    const int16 convert_color = 1;
    if (info->selector == convert_color && info->sourceSpace == info->resultSpace)
        return noErr;
    return paramErr;
}
