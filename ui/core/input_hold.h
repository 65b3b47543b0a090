#pragma once

namespace velmora::ui {

// What reaches the window while a conversion holds it.
enum class HeldEvent {
    Input, // mouse, keys, wheel, touch, tablet, drag and drop, shortcuts, context menus
    Close, // a request to close the window
    Other, // painting, moving, uncovering, timers...
};

// The rules for input while a conversion runs on the window's thread. The window system
// queues whatever the user does meanwhile and would hand it over once the conversion
// ends, when the controls are enabled again: a click on the greyed Browse would open its
// dialog afterwards. So the window is held from the first input disabled to the first
// enabled again: input that arrives meanwhile is dropped, also what is still queued when
// the hold ends, and a request to close is kept and carried out once the command has
// ended.
class InputHoldState {
public:
    enum class Step { None, Start, End };

    // Tells of SetInputEnabled. Start: the first input disabled, the hold begins (the
    // front end shows the busy cursor and filters events through Drops). End: the first
    // enabled again; the front end delivers what is queued through Drops, then calls
    // Released.
    Step InputEnabled(bool enabled);
    void Released();
    bool Held() const { return m_held; }

    // Whether an event that arrives now is thrown away. A close request while held is
    // thrown away too, and kept.
    bool Drops(HeldEvent event);

    // A request to close the window: true when it may close now, false when it is kept
    // until the conversion ends.
    bool RequestClose();

    // Once the command has ended: whether a close was asked for meanwhile, which the
    // window is now to carry out. Asking forgets it.
    bool TakeCloseRequest();

private:
    bool m_held = false;
    bool m_ending = false;
    bool m_closeRequested = false;
};

} // namespace velmora::ui
