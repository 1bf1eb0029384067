// Two pages, the second without access: an input copied to end at the boundary has no byte after
// it that may be read, so a reader that runs past the length it was given faults the test.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace test {

class guarded_page {
public:
    guarded_page()
    {
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        page_ = si.dwPageSize;
        base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old;
        if (base_) VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old);
    }
    ~guarded_page()
    {
        if (base_) VirtualFree(base_, 0, MEM_RELEASE);
    }
    guarded_page(const guarded_page&) = delete;
    guarded_page& operator=(const guarded_page&) = delete;

    bool ready() const { return base_ != nullptr; }
    size_t room() const { return page_; }
    // The bytes copied to end right before the inaccessible page (at most room() of them).
    const uint8_t* place(const void* data, size_t n)
    {
        uint8_t* start = base_ + page_ - n;
        if (n) std::memcpy(start, data, n);
        return start;
    }
    const uint8_t* place(const std::vector<uint8_t>& input) { return place(input.data(), input.size()); }
    const char* place(const std::string& s) { return reinterpret_cast<const char*>(place(s.data(), s.size())); }

private:
    uint8_t* base_ = nullptr;
    size_t page_ = 0;
};

}  // namespace test
