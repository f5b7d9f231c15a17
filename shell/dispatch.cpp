// Selector dispatch and host recognition: the plug-in's one boundary with the
// host's calls. ENTRYPOINT itself (entry_win.cpp) only forwards here.
#include <cstdio>
#include <cstring>

#include "runtime/definition.h"
#include "base/platform.h"
#include "shell/shell.h"
#include "ui/dialog.h"

int32_t parameters_requested;

namespace {

// Handed to the host as the persistent data value; nobody reads it.
struct {
    char tag[8];
} marker_block = {{'C', 'e', 'l', 'l', 'u', 'm', 'b', 'r'}};

char fold(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_folded(const char* a, size_t a_len, const char* b)
{
    size_t b_len = std::strlen(b);
    if (a_len != b_len) return false;
    for (size_t i = 0; i < a_len; ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

} // namespace

HostKind host_kind_from_path(const char* path, HostKind previous)
{
    if (!path) return previous;
    const char* base = std::strrchr(path, '\\');
    base = base ? base + 1 : path;
    const char* dot = std::strchr(base, '.');
    size_t len = dot ? static_cast<size_t>(dot - base) : std::strlen(base);
    static const struct {
        const char* name;
        HostKind kind;
    } known[] = {{"photoshp", HostKind::photoshp}, {"photopnt", HostKind::photopnt}, {"psp", HostKind::psp}};
    for (const auto& k : known)
        if (equal_folded(base, len, k.name)) return k.kind;
    return previous;
}

void detect_host()
{
    char path[256] = {};
    platform::host_executable_path(path, sizeof path);
    path[255] = '\0';
    run_state.host_kind = host_kind_from_path(path, run_state.host_kind);
}

void dispatch_selector(int16 selector, void* record, intptr_t* data, int16* result)
{
    run_state.filter_record = static_cast<FilterRecord*>(record);
    // A host that hands no result cell still gets its work done; nothing is written.
    int16 ignored = 0;
    if (!result) result = &ignored;
    *result = noErr;

    switch (selector) {
    case filterSelectorAbout:
        // Answered 0 after the box: a host may preset another value and
        // report anything but 0 as a failure to show it.
        show_about(0);
        break;
    case filterSelectorParameters:
        parameters_requested = 1;
        break;
    case filterSelectorPrepare:
        if (data && *data == 0) *data = reinterpret_cast<intptr_t>(&marker_block);
        break;
    case filterSelectorStart:
        detect_host();
        *result = start_filter();
        break;
    case filterSelectorContinue:
        detect_host();
        break;
    default: // finish and anything larger
        break;
    }
}
