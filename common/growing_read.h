// The one loop of every read through a buffer that the platform may find too
// small and ask to be larger: device properties, registry values, instance
// IDs.
#pragma once

// What one try of a read came to.
enum class ReadTry { Done, Failed, NeedsRoom };

// Tries the read, and while a try needs more room, grows the buffer to the
// room asked for (grow answers false when it cannot) and tries again, at most
// maxGrowths times, so that a platform that keeps asking cannot hang the
// caller. True when a try was done; false when one failed, the buffer could
// not grow, or it still needed room after the last growth.
template <class Try, class Grow> bool ReadGrowing(Try attempt, Grow grow, int maxGrowths)
{
    ReadTry result = attempt();
    for (int growths = 0; result == ReadTry::NeedsRoom && growths < maxGrowths; ++growths) {
        if (!grow()) {
            return false;
        }
        result = attempt();
    }
    return result == ReadTry::Done;
}
