#pragma once

#include <algorithm>
#include <iterator>
#include <vector>

namespace orvix::input {

// Which of the keys a backend holds down (oldest first) a release lets go
// of: the key it names, or, when it names a key that is not down (the key
// before its remapping), the newest key of ours. end() when none is down.
inline std::vector<int>::iterator keyToRelease(std::vector<int>& down, int key) {
    auto it = std::find(down.begin(), down.end(), key);
    if (it == down.end() && !down.empty())
        it = std::prev(down.end());
    return it;
}

} // namespace orvix::input
