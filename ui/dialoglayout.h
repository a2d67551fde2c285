// The message dialog's layout arithmetic: button count, help button, width and button positions,
// computed from measured text widths so it can be checked without a window.
#pragma once

namespace lw {

// What the layout needs: the request and the dialog's designed measures.
struct MessageLayoutInput {
    int buttons = 1;      // the requested button count
    int helpContext = 0;  // 0: no HELP button
    int captionWidth = 0; // the caption measured in the label's font
    int messageWidth = 0; // the message measured in the label's font
    int labelLeft = 8;
    int outerWidth = 310; // the dialog's outer width (frame included) before the layout
    int okWidth = 70;
    int cancelWidth = 70;
    int helpWidth = 85;
    // Added to the caption's width: room for what the title bar shows beside the caption.
    int captionRoom = 40;
};

// The result, in the dialog's client coordinates.
struct MessageLayout {
    int count = 1; // the button count as rewritten by the layout, HELP included
    bool cancelShown = true;
    bool helpShown = true;
    int cancelTag = 1;
    int helpTag = 2;
    int outerWidth = 0; // never less than the width before the layout
    int gap = 0;
    int okLeft = 0;
    int cancelLeft = 0;
    int helpLeft = 0;
};

// Two or more buttons give OK and NO, anything less OK alone (HELP then takes position 1);
// a help context adds HELP. The dialog widens to the caption width plus the caption room or the
// message width plus twice the label's left edge, whichever is larger, and never narrows. The gap is
// (outer width - OK width x count) div (count + 1); every button, shown or hidden, goes to
// tag x its own width + gap x (tag + 1).
MessageLayout layOutMessageDialog(const MessageLayoutInput& in);

} // namespace lw
