#pragma once

// Received body bytes waiting for InternetReadFile.

#include <cstddef>
#include <vector>

namespace larkspool::wininet {

// A ring that grows only when a write does not fit, so steady reading copies
// each byte in and out once and touches the same memory over and over.
class ByteQueue {
public:
    std::size_t Size() const { return Count; }
    void Append(const char* Bytes, std::size_t Size);
    std::size_t Take(char* Out, std::size_t Size);
    void Clear() { Head = Count = 0; }

private:
    std::vector<char> Ring;
    std::size_t Head = 0, Count = 0;
};

} // namespace larkspool::wininet
