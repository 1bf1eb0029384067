// Two pages, the first readable and the second inaccessible: place() copies an input to the very
// end of the first, so that a read past the input's end faults at once (fuzz tests).
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace test {

class guarded_page {
public:
    guarded_page()
    {
        base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, 2 * PAGE, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD old;
        VirtualProtect(base_ + PAGE, PAGE, PAGE_NOACCESS, &old);
    }
    ~guarded_page() { VirtualFree(base_, 0, MEM_RELEASE); }
    guarded_page(const guarded_page&) = delete;
    guarded_page& operator=(const guarded_page&) = delete;
    // Inputs longer than a page are cut to its size.
    const uint8_t* place(const std::vector<uint8_t>& input)
    {
        size_t n = input.size() < PAGE ? input.size() : PAGE;
        uint8_t* start = base_ + PAGE - n;
        if (n) std::memcpy(start, input.data(), n);
        return start;
    }

    static constexpr size_t PAGE = 4096;

private:
    uint8_t* base_;
};

}  // namespace test
