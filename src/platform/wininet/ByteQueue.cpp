#include "platform/wininet/ByteQueue.h"

#include <algorithm>
#include <cstring>

namespace larkspool::wininet {

void ByteQueue::Append(const char* Bytes, std::size_t Size) {
    if (Size == 0)
        return;
    if (Count + Size > Ring.size()) {
        std::vector<char> larger(std::max({Ring.size() * 2, Count + Size, std::size_t(64 << 10)}));
        std::size_t kept = Take(larger.data(), Count);
        Ring.swap(larger);
        Head = 0;
        Count = kept;
    }
    std::size_t tail = (Head + Count) % Ring.size();
    std::size_t first = std::min(Size, Ring.size() - tail);
    std::memcpy(Ring.data() + tail, Bytes, first);
    std::memcpy(Ring.data(), Bytes + first, Size - first);
    Count += Size;
}

std::size_t ByteQueue::Take(char* Out, std::size_t Size) {
    std::size_t n = std::min(Size, Count);
    if (n == 0)
        return 0;
    std::size_t first = std::min(n, Ring.size() - Head);
    std::memcpy(Out, Ring.data() + Head, first);
    std::memcpy(Out + first, Ring.data(), n - first);
    Head = (Head + n) % Ring.size();
    Count -= n;
    return n;
}

} // namespace larkspool::wininet
