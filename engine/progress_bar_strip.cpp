#include "progress_bar_strip.h"

#include <algorithm>

namespace {

// Where the filled part ends for a position, as the control places it: its share of the
// width, rounded down.
int FilledTo(const ScreenRect& client, int low, int high, int position)
{
    const long long clamped = std::min(std::max(position, low), high);
    return client.left + static_cast<int>((clamped - low) * (client.right - client.left) /
                                          (static_cast<long long>(high) - low));
}

} // namespace

ScreenRect ProgressBarStripToRepaint(const ScreenRect& client, int low, int high, int before, int after)
{
    if (high <= low || after < before || client.right <= client.left)
        return client;
    if (after == before)
        return {client.left, client.top, client.left, client.bottom};
    // The control draws its fill in whole chunks, or stretches its theme's picture to the
    // end; a chunk with its gap is never wider than the bar is high, so a bar's height
    // either side of the two ends holds every pixel that changes.
    const int margin = client.bottom - client.top;
    return {std::max(client.left, FilledTo(client, low, high, before) - margin), client.top,
            std::min(client.right, FilledTo(client, low, high, after) + margin), client.bottom};
}
