// A committed region between two pages that may not be touched: bytes placed to end at the upper
// boundary have nothing after them that may be read or written, so any access past their end
// faults; bytes placed to begin at the lower boundary fault on any access before their start.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace test {

class guarded_region {
public:
    explicit guarded_region(size_t size)
    {
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        page_ = si.dwPageSize;
        size_ = (size + page_ - 1) / page_ * page_;
        region_ = static_cast<uint8_t*>(
            VirtualAlloc(nullptr, size_ + 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (!region_) return;
        DWORD old;
        VirtualProtect(region_, page_, PAGE_NOACCESS, &old);
        VirtualProtect(region_ + page_ + size_, page_, PAGE_NOACCESS, &old);
        base_ = region_ + page_;
    }
    ~guarded_region()
    {
        if (region_) VirtualFree(region_, 0, MEM_RELEASE);
    }
    guarded_region(const guarded_region&) = delete;
    guarded_region& operator=(const guarded_region&) = delete;

    bool ready() const { return base_ != nullptr; }
    size_t room() const { return size_; }
    // The last n bytes before the boundary (n at most room()).
    uint8_t* tail(size_t n) { return base_ + size_ - n; }
    const uint8_t* place(const std::vector<uint8_t>& bytes)
    {
        uint8_t* start = tail(bytes.size());
        if (!bytes.empty()) std::memcpy(start, bytes.data(), bytes.size());
        return start;
    }
    // The bytes copied to begin at the lower boundary (at most room() of them).
    const uint8_t* place_first(const std::vector<uint8_t>& bytes)
    {
        if (!bytes.empty()) std::memcpy(base_, bytes.data(), bytes.size());
        return base_;
    }

private:
    uint8_t* region_ = nullptr;
    uint8_t* base_ = nullptr;
    size_t size_ = 0;
    size_t page_ = 0;
};

}  // namespace test
