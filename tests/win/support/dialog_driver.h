// Playing the user of a dialog that waits in its modal loop on another
// thread: running pieces of the user's script on the dialog's own thread,
// finding the dialog, and what a user does to its controls.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

namespace wintest {

// Runs pieces of the user's script on the dialog's own thread, where key
// states, the cursor and the dialog's replies are what the dialog sees.
// Made on the thread that then enters the dialog's modal loop.
class Driver {
public:
    Driver();
    ~Driver();
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    // From the user's thread: runs fn on the dialog's thread and waits for it.
    bool on_dialog_thread(std::function<void()> fn) const;

private:
    HWND window_ = nullptr;
};

// The visible dialog captioned `caption`, waiting at most `timeout_ms` and
// not past the moment `gave_up` turns true; null when none came.
HWND wait_for_dialog(const char* caption, unsigned timeout_ms, const std::atomic<bool>* gave_up = nullptr);

// On the dialog's thread: the Shift key as the dialog will read it.
void set_shift(bool down);
// A button click, with Shift held if asked; Shift is left as it was.
void click(HWND dialog, int id, bool with_shift = false);
void type_into(HWND dialog, int id, const char* text);
// Presses keys in a box as a person would: focus, then key-down and key-up
// through the dialog's own message handling, which makes the characters.
// '\b' is Backspace. Call on the dialog's thread.
void press_keys(HWND dialog, int id, const char* keys);
std::string text_of(HWND dialog, int id);

// The zoom factor that fits a `width` x `height` picture into the preview.
int fit_factor(HWND preview, int width, int height);

// Top-down rows of 32-bit BGRA pixels: how pictures go to and come from
// device contexts here.
BITMAPINFO bgra_bitmap_info(int width, int height);

} // namespace wintest
