// The message dialog's layout arithmetic: button count, help button, width and button positions.
#include "ui/dialoglayout.h"

#include <algorithm>

namespace lw {

MessageLayout layOutMessageDialog(const MessageLayoutInput& in) {
    MessageLayout out;

    if (in.buttons >= 2) {
        out.count = 2;
    } else {
        out.cancelShown = false;
        out.helpTag = 1;
        out.count = 1;
    }

    if (in.helpContext == 0)
        out.helpShown = false;
    else
        out.count += 1;

    const int w1 = in.captionWidth + in.captionRoom;
    const int w2 = in.messageWidth + 2 * in.labelLeft;
    out.outerWidth = std::max(in.outerWidth, std::max(w1, w2));

    // Integer division that truncates, as the positions table expects.
    out.gap = (out.outerWidth - in.okWidth * out.count) / (out.count + 1);

    const auto left = [&](int tag, int width) { return tag * width + out.gap * (tag + 1); };
    out.okLeft = left(0, in.okWidth);
    out.cancelLeft = left(out.cancelTag, in.cancelWidth);
    out.helpLeft = left(out.helpTag, in.helpWidth);
    return out;
}

} // namespace lw
