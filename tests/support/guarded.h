// A committed region whose next page may not be touched: bytes placed to end at the boundary
// have nothing after them that may be read or written, so any access past their end faults.
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
        base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, size_ + page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old;
        if (base_) VirtualProtect(base_ + size_, page_, PAGE_NOACCESS, &old);
    }
    ~guarded_region()
    {
        if (base_) VirtualFree(base_, 0, MEM_RELEASE);
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

private:
    uint8_t* base_ = nullptr;
    size_t size_ = 0;
    size_t page_ = 0;
};

}  // namespace test
